"""The per-port sweep through a stand-in simulator, which writes the column of a
known reciprocal matrix in the order of the new port numbers, as a real run
would: a sweep that renumbers or reassembles wrongly cannot reproduce it."""

import itertools
import os
import signal
import stat
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest
import skrf

from fendrix_tools import read_dataset
from fendrix_tools.cli import main
from fendrix_tools.sweep import SweepError, sweep
from fendrix_tools.touchstone import renormalize

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Ports sit at x = 1, 2, 3 mm (original numbers 1, 2, 3); their impedances.
S_TRUE = np.array([[0.1 + 0.2j, 0.5 - 0.1j, -0.3j],
                   [0.5 - 0.1j, -0.25 + 0j, 0.4 + 0.4j],
                   [-0.3j, 0.4 + 0.4j, 0.05 - 0.6j]])

DESCRIPTION = ("Sim 0 1e-5 4 result.dat\nFreq 2 1e9 3e9 3\nBoundary 2 2 2 2 0 2\n"
               "xMesh 0,0.001,0.002,0.003,0.004\nyMesh 0,0.001\nzMesh 0,0.001\n"
               "Electric 3 2 50 x 0.003,0,0 0.003,0,0.001\nElectric 1 2 50 x 0.001,0,0 0.001,0,0.001\n"
               "Dielectric 2 0\nCube 0,0,0 0.004,0.001,0.001\n/\nElectric 2 2 50 x 0.002,0,0 0.002,0,0.001\n")

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
    ports = [l.split() for l in text.splitlines() if l.startswith("Electric ") and int(l.split()[1]) >= 1]
    # original index from the position, in the order of the new numbers
    order = [round(float(f[5].split(",")[0]) * 1000) - 1 for f in sorted(ports, key=lambda f: int(f[1]))]
    s = [[S[i, order[0]] * (1 + 0.1 * m) for m in range(3)] for i in order]
    sim = next(l for l in text.splitlines() if l.startswith("Sim "))
    write_dataset(sim.split(" ", 4)[4], [1e9, 2e9, 3e9], s)
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
    assert "Port 2 of 3" in text and "    args -v0 -t2" in text  # simulator output, indented
    assert "Reciprocity: max |Sij - Sji| = 0 " in text
    # every run kept its renumbered description and its dataset
    run3 = (work / "port3" / "three.txt").read_text()
    assert all(f"Electric {n} 2 50 x 0.00{x}" in run3 for n, x in ((1, 3), (2, 1), (3, 2)))
    assert read_dataset(work / "port3" / "result.dat").s.shape == (3, 3)


def test_command_line_sweep_and_unequal_impedances(tmp_path, capsys, monkeypatch):
    # port 3 at 25 ohm: the file is renormalised to port 1's 50 ohm
    desc = tmp_path / "three.txt"
    desc.write_text(DESCRIPTION.replace("Electric 3 2 50", "Electric 3 2 25"))
    monkeypatch.chdir(tmp_path)
    rc = main(["sweep", str(desc), "--binary", str(make_fake(tmp_path)), "--format", "MA"])
    assert rc == 0 and "renormalised to 50 ohm" in capsys.readouterr().out
    net = skrf.Network(str(tmp_path / "three.s3p"))
    assert np.allclose(net.z0, 50.0) and np.allclose(net.s, renormalize(expected_matrix(), [50, 50, 25], 50), atol=1e-9)


def test_one_port_and_failing_simulators(tmp_path, capsys):
    desc = tmp_path / "one.txt"
    desc.write_text(DESCRIPTION.replace("Electric 3 2 50", "Electric 0 2 50").replace("Electric 2 2 50", "Electric -1 2 50"))
    res = sweep(desc, make_fake(tmp_path), output=tmp_path / "one.s1p")
    text = capsys.readouterr().out
    assert text.count("Port 1 of 1") == 1 and "Reciprocity" not in text and res.s.shape == (3, 1, 1)
    assert np.allclose(skrf.Network(str(tmp_path / "one.s1p")).s[:, 0, 0], res.s[:, 0, 0])
    desc.write_text(DESCRIPTION)
    for (body, words), jobs in itertools.product(
            [("echo 'ERROR: Input file corrupt (-20).' >&2\nexit 236", "description error -20: mesh lines"),
             ("exit 225", "run error -31: out of memory"), ("kill -9 $$", "killed by signal SIGKILL"),
             ("exit 3", "exit status 3$"), ("exit 0", "wrote no dataset")], (1, 2)):
        with pytest.raises(SweepError, match="port 1: .*" + words):
            sweep(desc, make_fake(tmp_path, "#!/bin/sh\n" + body + "\n"), output=tmp_path / "x.s3p",
                  jobs=jobs)


def test_results_name_with_folders_stays_in_each_port_folder(tmp_path):
    """Runs side by side on '../shared.dat' must not share one file, and no
    file outside the work folder is created or deleted, in success or failure."""
    (tmp_path / "work").mkdir()
    desc = tmp_path / "work" / "three.txt"
    victim = tmp_path / "shared.dat"
    victim.write_text("keep me")
    desc.write_text(DESCRIPTION.replace("result.dat", "../shared.dat"))
    for jobs in (2, 3):
        runs = tmp_path / "work" / f"runs{jobs}"
        res = sweep(desc, make_fake(tmp_path), output=tmp_path / "s.s3p", workdir=runs, jobs=jobs)
        assert np.allclose(res.s, expected_matrix(), atol=1e-15)
        assert res.datasets == [str(runs / f"port{p}" / "shared.dat") for p in (1, 2, 3)]
        assert "Sim 0 1e-5 4 shared.dat\n" in (runs / "port2" / "three.txt").read_text()
    with pytest.raises(SweepError, match="status 3"):
        sweep(desc, make_fake(tmp_path, "#!/bin/sh\nexit 3\n"), output=tmp_path / "f.s3p", jobs=2)
    assert victim.read_text() == "keep me" and not (tmp_path / "work" / "shared.dat").exists()


@pytest.mark.parametrize("args, words", [
    (["--z0", "0"], "--z0 0.0: the reference impedance must be"), (["--z0", "-50"], "--z0 -50"),
    (["--z0", "nan"], "--z0 nan"), (["--z0", "inf"], "--z0 inf"),
    (["-o", "missing/x.s3p"], "folder missing does not exist"), (["-o", "."], "is a folder"),
    (["--jobs", "0"], "jobs must be"), (["-t", "0"], "1 to 16 threads"), (["-t", "17"], "1 to 16"),
    (["--launcher", " "], "launcher is empty"), (["--launcher", "'a"], "No closing quotation"),
    (["--launcher", "nowhere-x"], "not found"),
    (["--pml", "3"], "--pml 3: the matched layer takes"),
])
def test_options_are_refused_before_any_run(tmp_path, capsys, monkeypatch, args, words):
    desc = tmp_path / "three.txt"
    desc.write_text(DESCRIPTION)
    monkeypatch.chdir(tmp_path)
    fake = make_fake(tmp_path, "#!/bin/sh\ntouch ran\nexit 3\n")
    assert main(["sweep", str(desc), "--binary", str(fake), *args]) == 1
    assert words in capsys.readouterr().err and not list(tmp_path.rglob("ran"))


@pytest.mark.parametrize("header, args, words", [
    ("", [], "-v0 -r"),
    ("", ["--no-repeatable", "--host-codes"], ""),
    ("", ["-t", "2", "--pml", "6", "--sim-arg=--a", "--sim-arg", "b"], "-v0 -t2 -r --pml=6 --a b"),
    ("# run: fendrix three.txt -r --pml=12\n", [], "-v0 -r --pml=12"),  # as the model API writes
    ("# run: fendrix three.txt --pml\n", [], "-v0 -r --pml=8"),
    ("# run: fendrix three.txt --pml=12\n", ["--pml", "0"], "-v0 -r"),  # first-order after all
    ("# run: fendrix three.txt --pml=2\n", [], None),
])
def test_run_options_reach_every_run(tmp_path, capsys, monkeypatch, header, args, words):
    desc = tmp_path / "three.txt"
    desc.write_text(header + DESCRIPTION)
    monkeypatch.chdir(tmp_path)
    rc = main(["sweep", str(desc), "--binary", str(make_fake(tmp_path)), *args])
    out, err = capsys.readouterr()
    if words is None:
        assert rc == 1 and "run line's --pml=2: the matched layer takes 4 to 32" in err
        return
    assert rc == 0 and out.count(f"    args {words}\n") == 3, out


# Writes its process id, then waits long enough for the test to stop the sweep.
SLEEPER = "#!/bin/sh\necho $$ > pid\nexec sleep 30\n"


@pytest.mark.parametrize("signum, jobs", [(signal.SIGTERM, 1), (signal.SIGINT, 2)])
def test_signal_stops_the_simulators_and_removes_the_scratch_folder(tmp_path, signum, jobs):
    desc = tmp_path / "three.txt"
    desc.write_text(DESCRIPTION)
    scratch = tmp_path / "tmp"
    scratch.mkdir()
    env = dict(os.environ, TMPDIR=str(scratch), PYTHONPATH=TOOLS)
    proc = subprocess.Popen([sys.executable, "-m", "fendrix_tools", "sweep", str(desc), "--binary",
                             str(make_fake(tmp_path, SLEEPER)), "--jobs", str(jobs), "-o",
                             str(tmp_path / "x.s3p")], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True,  # as from a terminal, not a background job
                            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    deadline = time.time() + 20
    while len(list(scratch.rglob("pid"))) < jobs and time.time() < deadline:
        time.sleep(0.05)
    pids = [int(p.read_text()) for p in scratch.rglob("pid")]
    assert len(pids) == jobs
    proc.send_signal(signum)
    _, err = proc.communicate(timeout=20)
    assert proc.returncode == 128 + signum, err
    assert f"stopped by {signal.Signals(signum).name}" in err
    assert list(scratch.iterdir()) == [] and not (tmp_path / "x.s3p").exists()
    for pid in pids:  # ended and reaped: no such process any more
        with pytest.raises(ProcessLookupError):
            os.kill(pid, 0)


# Records its words in the run's folder, holds port 1 back so that it ends last, then runs the rest.
LAUNCHER = ('#!/bin/sh\nprintf "%s\\n" "$*" > launched\n'
            'case "$PWD" in */port1) sleep 0.5;; esac\nshift 2\nexec "$@"\n')


def test_launcher_and_runs_side_by_side(tmp_path, capsys):
    desc = tmp_path / "three.txt"
    desc.write_text(DESCRIPTION)
    launch = make_fake(tmp_path, LAUNCHER).rename(tmp_path / "launch")
    fake = make_fake(tmp_path)
    written = []
    for jobs in (1, 2, 3):
        work, out = tmp_path / f"runs{jobs}", tmp_path / f"j{jobs}.s3p"
        res = sweep(desc, fake, output=out, workdir=work, launcher=f"{launch} -n 2", jobs=jobs)
        assert np.allclose(res.s, expected_matrix(), atol=1e-15)
        assert all((work / f"port{p}" / "launched").read_text() == f"-n 2 {fake} three.txt -v0 -r\n"
                   for p in (1, 2, 3))
        written.append(out.read_bytes())
        assert ("    [port 3] args -v0 -r\n" in capsys.readouterr().out) == (jobs > 1)
    assert written[0] == written[1] == written[2]


def test_only_line_feeds_end_lines():
    """A form feed or NEL inside a comment is part of the line for the simulator."""
    from fendrix_tools.description import Description

    text = "# a\x0cb\x85c\x1c\n" + DESCRIPTION
    desc = Description(text)
    assert (desc.port_count, desc.results_name) == (3, "result.dat")
    assert desc.renumbered(1) == text
