"""The far field at several frequencies: the table beside the results files,
its summary and figures, and the run options that ask for it."""

import os
from pathlib import Path

import numpy as np
import pytest

from fendrix_tools.cli import main
from fendrix_tools.dataset import read_dataset, write_dataset
from fendrix_tools.farfield import (COLUMNS, FarFieldRun, extra_file_name, read_far_field_table,
                                    table_beside)
from fendrix_tools.model import Model
from fendrix_tools.simulator import RunOptions, SimulatorError, run
from fendrix_tools.summary import summarize

PNG = b"\x89PNG\r\n\x1a\n"
REPO = Path(__file__).resolve().parents[2]
EXE = Path(os.environ.get("FENDRIX_BINARY") or REPO / "build" / "fendrix")
needs_simulator = pytest.mark.skipif(not EXE.is_file(), reason=f"simulator not built: {EXE}")


def run_files(folder):
    """A run at 2.2 GHz with 2.0 and 2.4 GHz more, as the simulator names its
    files: a patch-like beam tilting from the zenith as the frequency rises."""
    f = np.linspace(1.5e9, 3e9, 16)
    az, el = np.linspace(-180, 180, 37), np.linspace(-90, 90, 19)
    A, E = np.meshgrid(np.radians(az), np.radians(el))
    rows = []
    for freq, tilt, name in ((2.0e9, 0, "p_ff2GHz.dat"), (2.2e9, 10, "p.dat"), (2.4e9, 20, "p_ff2.4GHz.dat")):
        d = 4 * np.clip(np.sin(E + np.radians(tilt) * np.cos(A)), 0, None) ** 2 + 1e-3
        write_dataset(folder / name, f, [np.full(16, 0.3 + 0j)], dict(
            pattern=d, e_azimuth=np.zeros_like(d, complex), e_elevation=np.sqrt(d / d.max()) + 0j,
            directivity_dbi=10 * np.log10(d.max()), efficiency=90.0, azimuth=az, elevation=el))
        rows.append(f"{freq:.9g},6,{tilt},0,90,5.54,5.1,-10.46,20,80,90,{name}")
    (folder / "p_farfield.csv").write_text(",".join(COLUMNS) + "\n" + "\n".join(rows) + "\n")


def test_table_summary_and_figures(tmp_path, capsys):
    run_files(tmp_path)
    assert extra_file_name("p.dat", 2.4e9) == "p_ff2.4GHz.dat"
    assert extra_file_name("out/run.v2.dat", 915e6) == "out/run.v2_ff0.915GHz.dat"
    table = read_far_field_table(tmp_path / "p_farfield.csv")
    assert list(table.frequencies) == [2.0e9, 2.2e9, 2.4e9] and table.dataset[2] == "p_ff2.4GHz.dat"
    # each file of the run finds the table and states its own far-field frequency
    for name, ghz in (("p_ff2.4GHz.dat", "2.4"), ("p.dat", "2.2")):
        text = summarize(read_dataset(tmp_path / name), table=table_beside(tmp_path / name))
        assert f"Max. directivity: 6.02 dBi at {ghz} GHz" in text
        assert "Far field at 3 frequencies (p_farfield.csv):" in text
        assert "Highest realized gain: 5.10 dBi at 2 GHz" in text
    assert main(["summary", str(tmp_path / "p_farfield.csv")]) == 0
    assert capsys.readouterr().out.count("\n") == 6  # title, column names, 3 rows, best
    out = tmp_path / "png"
    assert main(["plot", str(tmp_path / "p_farfield.csv"), "-o", str(out), "--ff-freq", "2", "2.35"]) == 0
    for suffix in ("gain", "squint", "patterns"):
        assert (out / f"p_farfield_{suffix}.png").read_bytes()[:8] == PNG
    (tmp_path / "bad.csv").write_text("frequency_Hz,gain\n1,2\n")
    assert main(["summary", str(tmp_path / "bad.csv")]) == 1
    assert "not a far-field table" in capsys.readouterr().err


def test_run_options_ask_for_the_frequencies():
    m = Model("t", unit="mm", frequency_unit="GHz")
    m.band(2, 4, points=5)
    m.far_field(3, frequencies=[2.5, 3.25])
    assert m.run_options(verbose=0).arguments()[-1] == "--far-field-freq=2500000000.0,3250000000.0"
    for bad in ([], [2e9, 2.0000000001e9], [float("nan")], "2e9", [1e9] * 65):
        with pytest.raises(SimulatorError):
            RunOptions(far_field_frequencies=bad).check()


@needs_simulator
def test_a_run_returns_every_frequency(tmp_path):
    def mesh(axis):
        return f"{axis}Mesh " + ",".join("%.9g" % (-0.03 + i * 0.003) for i in range(21)) + "\n"

    (tmp_path / "d.txt").write_text("Sim 3 1e-5 4 d.dat\nFreq 2 2e9 4e9 5\nRadiation 3e9 12 7 4\n"
                                    "Boundary 2 2 2 2 2 2\n" + mesh("x") + mesh("y") + mesh("z")
                                    + "Electric 1 2 50 x 0,0,0 0,0,0.003\n")
    options = RunOptions(far_field_frequencies=[3.5e9, 2.5e9]).check()
    assert run(EXE, "d.txt", tmp_path, options)[0] == 0
    got = FarFieldRun.read(tmp_path / "d.dat")
    assert sorted(got.datasets) == pytest.approx([2.5e9, 3e9, 3.5e9], rel=1e-7)
    assert got.main.path.endswith("d.dat") and got.table.dataset == ["d_ff2.5GHz.dat", "d.dat", "d_ff3.5GHz.dat"]
    for i, ds in enumerate(got.datasets.values()):
        assert ds.directivity_dbi == pytest.approx(got.table.directivity_dBi[i], abs=1e-4)
