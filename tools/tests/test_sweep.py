"""The per-port sweep, driven through a stand-in simulator.

The stand-in reads the description it is given, finds which original port now
carries number 1 (by its position) and writes the column of a known reciprocal
matrix in the order of the new port numbers, exactly as a real run would.  A
sweep that renumbers or reassembles wrongly cannot reproduce the matrix.
"""

import os
import stat
import sys
import textwrap

import numpy as np
import pytest
import skrf

from fendrix_tools import read_dataset
from fendrix_tools.__main__ import main
from fendrix_tools.sweep import SweepError, sweep

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Ports sit at x = 1, 2, 3 mm (original numbers 1, 2, 3); their impedances.
S_TRUE = np.array([[0.1 + 0.2j, 0.5 - 0.1j, -0.3j],
                   [0.5 - 0.1j, -0.25 + 0j, 0.4 + 0.4j],
                   [-0.3j, 0.4 + 0.4j, 0.05 - 0.6j]])

DESCRIPTION = (
    "Sim 0 1e-5 4 result.dat\n"
    "Freq 2 1e9 3e9 3\n"
    "Boundary 2 2 2 2 0 2\n"
    "xMesh 0,0.001,0.002,0.003,0.004\n"
    "yMesh 0,0.001\n"
    "zMesh 0,0.001\n"
    "Electric 3 2 50 x 0.003,0,0 0.003,0,0.001\n"
    "Electric 1 2 50 x 0.001,0,0 0.001,0,0.001\n"
    "Dielectric 2 0\n"
    "Cube 0,0,0 0.004,0.001,0.001\n"
    "/\n"
    "Electric 2 2 50 x 0.002,0,0 0.002,0,0.001\n"
)

FAKE = textwrap.dedent("""\
    #!{python}
    import sys
    sys.path.insert(0, {tools!r})
    import numpy as np
    from fendrix_tools.dataset import write_dataset
    S = np.array({s!r})
    text = open(sys.argv[1]).read()
    print("Running FDTD simulation...", flush=True)
    print("args", " ".join(sys.argv[2:]), flush=True)
    by_new = {{}}
    for line in text.splitlines():
        if line.startswith("Electric ") and int(line.split()[1]) >= 1:
            f = line.split()
            x = float(f[5].split(",")[0])
            by_new[int(f[1])] = round(x * 1000) - 1   # original index from position
    order = [by_new[k] for k in sorted(by_new)]
    excited = order[0]
    freqs = [1e9, 2e9, 3e9]
    s = [[S[i, excited] * (1 + 0.1 * m) for m in range(3)] for i in order]
    name = text.splitlines()[0].split(" ", 4)[4]
    write_dataset(name, freqs, s)
    """)


def make_fake(tmp_path, body=None):
    path = tmp_path / "fake_fendrix"
    path.write_text(body or FAKE.format(python=sys.executable, tools=TOOLS, s=S_TRUE.tolist()))
    path.chmod(path.stat().st_mode | stat.S_IXUSR)
    return path


def expected_matrix():
    scale = np.array([1.0, 1.1, 1.2])[:, None, None]
    return S_TRUE[None, :, :] * scale


def test_sweep_reassembles_known_matrix(tmp_path, capsys):
    desc = tmp_path / "three.txt"
    desc.write_text(DESCRIPTION)
    out = tmp_path / "three.s3p"
    work = tmp_path / "runs"
    res = sweep(desc, make_fake(tmp_path), output=out, workdir=work, threads=2)
    assert np.allclose(res.s, expected_matrix(), atol=1e-15)
    assert np.allclose(skrf.Network(str(out)).s, expected_matrix(), atol=1e-9)
    text = capsys.readouterr().out
    assert "Port 2 of 3" in text
    assert "    Running FDTD simulation..." in text  # simulator output, indented
    assert "    args -v0 -t2" in text
    assert "Reciprocity: max |Sij - Sji| = 0 " in text
    # every run kept its renumbered description and its dataset
    run3 = (work / "port3" / "three.txt").read_text()
    assert "Electric 1 2 50 x 0.003" in run3 and "Electric 2 2 50 x 0.001" in run3
    assert "Electric 3 2 50 x 0.002" in run3
    assert read_dataset(work / "port3" / "result.dat").s.shape == (3, 3)


def test_command_line_sweep_and_unequal_impedances(tmp_path, capsys, monkeypatch):
    # port 3 at 25 ohm: the file is renormalised to port 1's 50 ohm
    desc = tmp_path / "three.txt"
    desc.write_text(DESCRIPTION.replace("Electric 3 2 50", "Electric 3 2 25"))
    monkeypatch.chdir(tmp_path)
    rc = main(["sweep", str(desc), "--binary", str(make_fake(tmp_path)), "--format", "MA"])
    assert rc == 0
    text = capsys.readouterr().out
    assert "renormalised to 50 ohm" in text
    net = skrf.Network(str(tmp_path / "three.s3p"))
    assert np.allclose(net.z0, 50.0)
    from fendrix_tools.touchstone import renormalize
    assert np.allclose(net.s, renormalize(expected_matrix(), [50, 50, 25], 50), atol=1e-9)


def test_failing_simulator_is_reported(tmp_path):
    desc = tmp_path / "three.txt"
    desc.write_text(DESCRIPTION)
    fake = make_fake(tmp_path, "#!/bin/sh\necho 'ERROR: Input file corrupt (-20).' >&2\nexit 236\n")
    with pytest.raises(SweepError, match="status -20"):
        sweep(desc, fake, output=tmp_path / "x.s3p")
    silent = make_fake(tmp_path, "#!/bin/sh\nexit 0\n")
    with pytest.raises(SweepError, match="wrote no dataset"):
        sweep(desc, silent, output=tmp_path / "x.s3p")


def test_one_port_is_a_single_run(tmp_path, capsys):
    one = DESCRIPTION.replace("Electric 3 2 50", "Electric 0 2 50") \
        .replace("Electric 2 2 50", "Electric -1 2 50")
    desc = tmp_path / "one.txt"
    desc.write_text(one)
    res = sweep(desc, make_fake(tmp_path), output=tmp_path / "one.s1p")
    text = capsys.readouterr().out
    assert text.count("Port 1 of 1") == 1 and "Reciprocity" not in text
    assert res.s.shape == (3, 1, 1)
    assert np.allclose(skrf.Network(str(tmp_path / "one.s1p")).s[:, 0, 0], res.s[:, 0, 0])
