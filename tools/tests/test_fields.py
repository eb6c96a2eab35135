"""Field views of real runs, read back with fendrix_tools.views: a cavity
mode's snapshot has the textbook shape, a matched line's map is flat with the
line's phase constant, coordinates are the mesh lines, and asking for views
leaves the results file byte for byte as it was."""

import os
import re
import subprocess
from pathlib import Path

import numpy as np
import pytest

from fendrix_tools import read_dataset
from fendrix_tools.fields import draw_views, read_pvd, read_vtr

REPO = Path(__file__).resolve().parents[2]
BINARY = Path(os.environ.get("FENDRIX_BINARY") or REPO / "build" / "fendrix")
C = 299792458.0


def run(folder, text, *options):
    if not BINARY.is_file():
        pytest.skip(f"simulator not built: {BINARY}")
    (folder / "d.txt").write_text(text)
    r = subprocess.run([str(BINARY), "d.txt", *options], cwd=folder, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    return folder / "d_views"


def mesh(axis, lines, cell):
    return f"{axis}Mesh " + ",".join(f"{i * cell:.6g}" for i in range(lines)) + "\n"


def test_cavity_snapshot_has_the_te101_shape(tmp_path):
    # 20 x 10 x 15 mm closed box: in 10-15 GHz only TE101 rings, Ey = sin(pi x/a) sin(pi z/d).
    text = ("Sim 6 1e-30 4 d.dat\nFreq 2 10e9 15e9 11\nBoundary 0 0 0 0 0 0\n"
            + mesh("x", 21, 1e-3) + mesh("y", 11, 1e-3) + mesh("z", 16, 1e-3)
            + "Electric 1 1 1e6 x 0.005,0.004,0.005 0.005,0.006,0.005\n")
    views = run(tmp_path, text, "--snapshot-every=7", "--snapshot-plane=y:0.0021")
    frames = [read_vtr(p) for _, p in read_pvd(views / "snapshot_y2.pvd")]
    late = frames[len(frames) // 2:]  # after the pulse
    best = max(late, key=lambda g: np.sum(g.plane("E") ** 2))
    assert best.coords[1][0] == pytest.approx(0.002)
    e = best.plane("E")  # rows z, columns x
    x, z = best.coords[0], best.coords[2]
    shape = np.outer(np.sin(np.pi * z / 0.015), np.sin(np.pi * x / 0.02))
    ey = e[..., 1]
    amplitude = np.sum(ey * shape) / np.sum(shape * shape)
    assert abs(amplitude) > 0
    assert np.sqrt(np.mean((ey - amplitude * shape) ** 2)) < 0.03 * abs(amplitude)
    assert np.abs(e[..., [0, 2]]).max() < 0.03 * abs(amplitude)  # no E across y in TE101


def test_matched_line_map_and_results_unchanged(tmp_path):
    text = (REPO / "examples" / "microstrip_line.txt").read_text()
    text = re.sub(r"(?m)^Sim .*$", "Sim 3 1e-30 4 d.dat", text)  # ends by the step limit: same step
    plain = tmp_path / "plain"
    plain.mkdir()
    run(plain, text)
    views = run(tmp_path, text, "--snapshot-every=301", "--snapshot-plane=x:0.01",
                "--map-plane=z:0.00026", "--map-freq=4e9,6e9")
    assert (tmp_path / "d.dat").read_bytes() == (plain / "d.dat").read_bytes()
    results = read_dataset(tmp_path / "d.dat")

    lines = [ln.split(" ", 1)[1] for ln in text.splitlines() if ln[1:6] == "Mesh "]
    mesh_lines = [np.array([float(v) for v in ln.split(",")]) for ln in lines]
    (maps,) = views.glob("map_z*.pvd")
    for f, (hz, path) in enumerate(read_pvd(maps)):
        grid = read_vtr(path)
        assert grid.value == hz == [4e9, 6e9][f]
        for a in range(2):
            assert np.array_equal(grid.coords[a], mesh_lines[a])  # the real mesh, to the bit
        assert grid.coords[2][0] == mesh_lines[2][np.argmin(np.abs(mesh_lines[2] - 0.00026))]
        # Under the middle of the strip, half way down the substrate, 3 to 17 mm from the ports.
        row = int(np.argmin(np.abs(grid.coords[1])))
        x = grid.coords[0]
        inner = (x > 0.003) & (x < 0.017)
        magnitude = grid.plane("E_magnitude")[row, inner, 2]
        phase = np.unwrap(np.radians(grid.plane("E_phase")[row, inner, 2]))
        # A wave of 1 V over 0.508 mm of substrate, flat along the line but for
        # the standing wave of the reflections at its ends, which are at most
        # as large as the largest S11 of the band (they partly cancel at port 1).
        assert np.median(magnitude) == pytest.approx(1 / 0.000508, rel=0.1)
        gamma = np.abs(results.s[0]).max()
        assert magnitude.max() / magnitude.min() < (1 + gamma) / (1 - gamma)
        # Phase falls at beta = 2 pi f sqrt(eeff) / c, eeff from Hammerstad's
        # closed form for w/h = 1.2 / 0.508 and er = 3.38; the reflected wave
        # bends the phase by up to gamma radians at each end of the 14 mm fitted.
        eeff = 2.19 + 1.19 / np.sqrt(1 + 12 * 0.508 / 1.2)
        beta = 2 * np.pi * hz * np.sqrt(eeff) / C
        slope = np.polyfit(x[inner], phase, 1)[0]
        assert -slope == pytest.approx(beta, abs=0.02 * beta + 2 * gamma / 0.014)
        # Quasi-TEM: Ez / Hy = w mu0 / beta = eta0 / sqrt(eeff) under the strip
        # (H in A/m). The standing wave multiplies it by (1 + G) / (1 - G) with
        # G turning along the line; over more than a quarter wavelength the
        # extremes are reciprocal factors, so their geometric mean is free of it.
        ratio = magnitude / grid.plane("H_magnitude")[row, inner, 1]
        assert np.sqrt(ratio.min() * ratio.max()) == pytest.approx(376.73 / np.sqrt(eeff), rel=0.03)

    (series,) = views.glob("snapshot_x*.pvd")
    written = draw_views(str(series), str(tmp_path / "png"), "E", "z")
    assert written[-1].endswith(".gif") and len(written) > 10
    assert draw_views(str(maps), str(tmp_path / "png"))[0].endswith("_00.png")
