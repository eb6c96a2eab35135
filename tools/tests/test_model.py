"""Model API, automatic mesh, remesh and view.

Mesh properties are checked against the geometry itself (edge coordinates,
wavelengths), not against the mesher's own bookkeeping; the physics checks
run the simulator (skipped when it is not built).
"""

import math
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from fendrix_tools import read_dataset
from fendrix_tools.model import Model, ModelError
from fendrix_tools.remesh import remesh
from fendrix_tools.shapes import fmt
from fendrix_tools.view import view

REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
sys.path.insert(0, str(EXAMPLES))
EXE = Path(os.environ.get("FENDRIX_BINARY") or REPO / "build" / "fendrix")
needs_simulator = pytest.mark.skipif(not EXE.is_file(), reason=f"simulator not built: {EXE}")
# |S11| minimum of the former hand-meshed patch_antenna.txt (lines on the patch edges, 1 mm
# cells there), and of the same patch with lines on its edges and 0.15 mm cells around them.
PATCH_HAND_GHZ, PATCH_FINE_GHZ = 2.303, 2.330


def strip(m):
    sub = m.dielectric("sub", eps_r=4.0).box((-5, -5, 0), (15, 5, 0.5))
    cu = m.metal("cu")
    cu.sheet((0, -0.5, 0.5), (10, 0.5, 0.5))
    m.port((0, 0, 0), (0, 0, 0.5))
    return sub, cu


def coupled(m):
    strip(m)
    m.materials[1].sheet((0, 0.7, 0.5), (10, 1.3, 0.5), name="second strip")
    m.extra_lines(x=[3.3])
    m.refine((4, -1, 0), (6, 1, 0.5), 0.05)


def solid_and_wire(m):
    m.dielectric("block", eps_r=9.0).box((0, 0, 0), (4, 3, 2))
    pec = m.metal("pec")
    pec.box((1, 1, 2), (3, 2, 2.2))
    pec.cylinder((2, 1.5, 2.2), (2, 1.5, 8), radius=0.3)
    pec.polygon([(0, 0), (4, 0), (4, 1), (2, 3)], z=0)  # a slanted edge
    m.port((2, 1.5, 0), (2, 1.5, 2))


GEOMETRIES = {"strip": strip, "coupled": coupled, "solid and wire": solid_and_wire}


def model(build, **mesh):
    m = Model("t", unit="mm", frequency_unit="GHz")
    m.band(1, 20, points=11)
    m.boundaries("absorbing", zlow="electric")
    m.mesh_settings(**mesh)
    build(m)
    return m


def edge_positions(lines, c):
    """'on' for a line at c, else the fraction of its cell at which c lies."""
    i = np.searchsorted(lines, c)
    if i < len(lines) and abs(lines[i] - c) < 1e-12 or i > 0 and abs(lines[i - 1] - c) < 1e-12:
        return "on"
    return (c - lines[i - 1]) / (lines[i] - lines[i - 1])


@pytest.mark.parametrize("name", GEOMETRIES)
def test_mesh_holds_edges_grading_and_cell_limits(name):
    m = model(GEOMETRIES[name])
    mesh = m.mesh()
    for k in range(3):
        lines = np.array(mesh.lines[k])
        cells = np.diff(lines)
        assert np.all(cells > 0)
        ratios = cells[1:] / cells[:-1]
        assert np.all(ratios <= 1.5 + 1e-6) and np.all(1 / ratios <= 1.5 + 1e-6)
        # no cell beyond a twentieth of the wavelength in the densest material it touches
        for a, b in zip(lines, lines[1:]):
            eps = max([1.0] + [s.material.eps_r for s in m.shapes()
                               if s.material.kind == "dielectric"
                               and s.bbox()[0][k] < b and s.bbox()[1][k] > a])
            assert b - a <= 299792458 / 20e9 / math.sqrt(eps) / 20 * (1 + 1e-6)
        # every edge and port end on a line, or a free metal edge a third into its cell
        coords = {c for s in m.shapes() for c in (s.bbox()[0][k], s.bbox()[1][k])}
        coords |= {c for e in m.elements for c in (e.lo[k], e.hi[k])}
        for c in coords:
            pos = edge_positions(lines, c)
            assert pos == "on" or abs(pos - 1 / 3) < 1e-6 or abs(pos - 2 / 3) < 1e-6, (k, c, pos)
    if name != "solid and wire":  # the 0.5 mm substrate: at least three cells through it
        assert sum(1 for z in mesh.lines[2] if 0 < z < 0.5e-3) >= 2
    if name == "strip":  # thirds rule: the line inside the strip is the near one
        assert edge_positions(np.array(mesh.lines[1]), 0.5e-3) == pytest.approx(1 / 3)
        assert edge_positions(np.array(mesh.lines[1]), -0.5e-3) == pytest.approx(2 / 3)
    if name == "coupled":  # user line and refinement honoured
        assert edge_positions(np.array(mesh.lines[0]), 3.3e-3) == "on"
        inside = [b - a for a, b in zip(mesh.lines[0], mesh.lines[0][1:]) if 4e-3 <= a < 6e-3]
        assert inside and max(inside) <= 0.05e-3 * (1 + 1e-6)


@pytest.mark.parametrize("change, names", [
    (lambda m: m.port((12, 0, 0.5), (12, 0, 2)), "port 2"),            # floats in the air
    (lambda m: m.resistor((12, 0, 0.5), (12, 0, 0.5), 50), "resistor 1"),  # zero length
    (lambda m: m.domain(x=(-2, 12)), "sub cube 1"),                    # shape outside
    (lambda m: (m.domain(x=(-5, 15)), m.far_field(10)), "far field"),  # substrate crosses the box
])
def test_mistakes_name_the_object(change, names):
    m = model(strip)
    m.mesh_settings(margin=3)
    with pytest.raises(ModelError, match=names):
        change(m)
        m.mesh()


def test_material_parameters_reach_the_simulator_as_given():
    m = model(strip)
    m.band(2, 6, points=5)
    lines = [
        m.metal("film", sheet_resistance=0.5).line(8e9),
        m.dielectric("lossy", eps_r=4, conductivity=0.1).line(8e9),
        m.metal("cu", conductivity=5.8e7, thickness=0.035).line(8e9),
    ]
    rho, t, _ = map(float, lines[0].split()[1:])
    skin = math.sqrt(rho / (8e9 * 1.9739208811039306e-06))  # the simulator's own formulas
    assert t < skin and rho / t == pytest.approx(0.5)
    eps, tan = map(float, lines[1].split()[1:])
    assert 8e9 * math.pi * 8.85418781762e-12 * eps * tan == pytest.approx(0.1)
    assert lines[2] == "Metal 1.724137931e-8 3.5e-5 0\n"  # 1/sigma, thickness in metres


def run(path, cwd, abort=False):
    """Run the simulator on a description; with abort it parses, builds and
    stops after the first chunk (the ABORT file)."""
    if abort:
        (cwd / "ABORT").write_text("")
    r = subprocess.run([str(EXE), path.name, "-v0"], cwd=cwd, capture_output=True, text=True,
                       timeout=600)
    # every shape claims grid points, every element has length on the grid
    warned = any(w in r.stderr for w in ("Unused", "Omitting", "No excit"))
    assert r.returncode == 0 and not warned, r.stderr + r.stdout[-500:]


@needs_simulator
def test_generated_descriptions_run(tmp_path):
    for name, build in GEOMETRIES.items():
        d = tmp_path / name.replace(" ", "_")
        d.mkdir()
        model(build).write(d / "t.txt", report=False)
        run(d / "t.txt", d, abort=True)
    for script in sorted(EXAMPLES.glob("*.py")):  # the example scripts' models, as written
        m = __import__(script.stem).build()
        d = tmp_path / script.stem
        d.mkdir()
        m.write(d / "t.txt", report=False)
        assert (d / "t.txt").read_text() == (EXAMPLES / f"{script.stem}.txt").read_text()
        run(d / "t.txt", d, abort=True)


def effective_permittivity(ds, length=0.02):
    phase = -np.unwrap(np.angle(ds.s[1]))
    return float(np.mean((phase * 299792458 / (2 * np.pi * ds.frequencies * length)) ** 2))


@needs_simulator
def test_microstrip_converges_and_patch_matches(tmp_path):
    from microstrip_line import build as line
    from patch_antenna import build as patch

    eeff = []
    for density in (0.75, 1.0, 1.5):
        d = tmp_path / f"line{density}"
        d.mkdir()
        line(density).write(d / "l.txt", report=False)
        run(d / "l.txt", d)
        eeff.append(effective_permittivity(read_dataset(d / "microstrip_line.dat")))
    assert 2.6 < eeff[-1] < 3.38  # between the air-filled and the fully filled line
    assert abs(eeff[2] / eeff[1] - 1) < 0.01, eeff

    m = patch()
    m.radiation = None  # the resonance only
    m.write(tmp_path / "p.txt", report=False)
    run(tmp_path / "p.txt", tmp_path)
    ds = read_dataset(tmp_path / "patch_antenna.dat")
    s, f = np.abs(ds.s[0]), ds.frequencies
    i = int(np.argmin(s))
    f0 = f[i] + 0.5 * (s[i - 1] - s[i + 1]) / (s[i - 1] - 2 * s[i] + s[i + 1]) * (f[1] - f[0])
    assert abs(f0 / 1e9 / PATCH_FINE_GHZ - 1) < 0.01, f0
    # lines on the edges lengthen the patch electrically by about a third of the
    # edge cell at each end: the 1 mm cells of the hand mesh put it 1.2 % low
    assert -0.02 < f0 / 1e9 / PATCH_HAND_GHZ - 1 < 0.02, f0


HAND = """# a hand-meshed strip with an edge off the mesh
Sim 5 1e-4 4 hand.dat
Freq 2 1e9 1e10 11
Boundary 2 2 2 2 0 2
xMesh {x}
yMesh {y}
zMesh 0,0.00025,0.0005,0.001,0.002,0.004
Dielectric 3 0
  Cube -0.005,-0.004,0 0.015,0.004,0.0005
/
Metal 0 0 0
Polygon 0.0005 2 0,-0.0006 0.01,-0.0006 0.01,0.00055 0,0.00055
/
Electric 1 2 50 x 0,0,0 0,0,0.0005
"""


def test_remesh_keeps_the_rest_and_view_flags_off_grid_edges(tmp_path, capsys):
    x = ",".join(f"{v * 1e-3:g}" for v in range(-5, 16))
    y = ",".join(f"{v * 1e-3:g}" for v in np.arange(-4, 4.01, 0.5))
    (tmp_path / "hand.txt").write_text(HAND.format(x=x, y=y))
    bad = view(tmp_path / "hand.txt", tmp_path / "hand.png")
    assert {(o, k) for o, k, _ in bad} == {("metal 2 polygon 1", 1)}  # y = -0.6 and 0.55 mm
    mesh = remesh(tmp_path / "hand.txt", tmp_path / "new.txt")
    old, new = (tmp_path / "hand.txt").read_text(), (tmp_path / "new.txt").read_text()
    keep = [i for i, line in enumerate(old.splitlines()) if "Mesh " not in line]
    assert [old.splitlines()[i] for i in keep] == [new.splitlines()[i] for i in keep]
    assert mesh.lines[0][0] == -0.005 and mesh.lines[0][-1] == 0.015  # the domain stays
    assert view(tmp_path / "new.txt", tmp_path / "new.png") == []
    for txt in sorted(EXAMPLES.glob("*.txt")):
        png = tmp_path / f"{txt.stem}.png"
        assert view(txt, png) == [] and png.stat().st_size > 20000


NAN, INF = float("nan"), float("inf")


@pytest.mark.parametrize("change, words", [
    (lambda m: m.port((0, 0, NAN), (0, 0, 0.5)), "port 2: start .*nan is not a finite"),
    (lambda m: m.port((5, 0, 0), (5, 0, 0.5), impedance=0), "port 2: impedance: 0 must be above 0"),
    (lambda m: m.port((5, 0, 0), (5, 0, 0.5), impedance=NAN), "port 2: impedance"),
    (lambda m: m.port((5, 0), (5, 0, 0.5)), "needs three coordinates"),
    (lambda m: m.port(5, (5, 0, 0.5)), "not a list of numbers"),
    (lambda m: m.port((5, 0, 0), (5, 0, 0.5), axis="q"), "axis 'q'"),
    (lambda m: m.resistor((5, 0, 0), (5, 0, 0.5), -50), "resistor: ohms"),
    (lambda m: m.lumped((5, 0, 0), (5, 0, 0.5)), "give ohms, farads"),
    (lambda m: m.limits(pulses=NAN), "limits: pulses"),
    (lambda m: m.limits(energy=NAN), "limits: energy"),
    (lambda m: m.limits(samples=0), "limits: samples"),
    (lambda m: m.limits(results="a\nb.dat"), "limits: results.*line break"),
    (lambda m: m.band(NAN, 5), "band: f1"), (lambda m: m.band(1, 1e20), "check the frequency unit"),
    (lambda m: m.band(1, 5, points=2.5), "band: points"), (lambda m: m.band(5, 1), "f1 < f2"),
    (lambda m: m.far_field(2, azimuths=1), "far field: azimuths"),
    (lambda m: m.dielectric("d", eps_r=NAN), "d: eps_r"),
    (lambda m: m.dielectric("d", 4, conductivity=-1), "d: conductivity.*below 0"),
    (lambda m: m.metal("m", conductivity=0), "m: conductivity: 0 must be above 0"),
    (lambda m: m.metal("m", sheet_resistance=-1), "m: sheet_resistance"),
    (lambda m: m.materials[1].polygon([(0, 0), (1, 0), (1, NAN)], z=1), "point 3"),
    (lambda m: m.materials[1].polygon([(0, 0, 0), (1, 0), (1, 1)], z=1), "point 1: needs 2"),
    (lambda m: m.materials[1].cylinder((0, 0, 0), (0, 0, 1), radius=INF), "radius"),
    (lambda m: m.domain(x=(5, 5)), "low < high"), (lambda m: m.domain(x=(0, NAN)), "domain x="),
    (lambda m: m.extra_lines(x=[INF]), "extra_lines x="),
    (lambda m: m.refine((0, 0, 0), (1, 1, 1), 0), "refine: cell"),
    (lambda m: m.mesh_settings(ratio=1.0), "ratio: 1 is below 1.1"),
    (lambda m: m.mesh_settings(density=-1), "density"), (lambda m: m.mesh_settings(thin_cells=0.5), "thin_cells"),
    (lambda m: m.mesh_settings(margin=NAN), "margin"), (lambda m: m.mesh_settings(domain=3), "unknown"),
    (lambda m: m.mesh_settings(max_nodes=0), "max_nodes"),
    (lambda m: m.absorber("pml", cells=3), "absorber: cells: 3 is outside 4 to 32"),
    (lambda m: m.absorber("pml", cells=8.5), "absorber: cells: 8.5 is not a whole"),
    (lambda m: m.absorber("pml", cells="8"), "absorber: cells"),
    (lambda m: m.absorber("PML"), "absorber 'PML': use 'first-order' or 'pml'"),
])
def test_bad_numbers_are_refused_where_given(change, words):
    m = model(strip)
    with pytest.raises(ModelError, match=words):
        change(m)


@pytest.mark.parametrize("settings, words", [
    (dict(density=1000), "beyond the budget of 89478484 nodes"),
    (dict(margin=1e9), "beyond the budget"),  # a kilometre of air
    (dict(max_nodes=20000), "beyond the budget of 20000 nodes"),
    (dict(ratio=1.1, thin_cells=1000), "along .* needs more than|beyond the budget|cannot keep"),
])
def test_meshes_beyond_the_budget_are_refused_quickly(settings, words):
    m = model(strip, **settings)
    m.refine((0, -1, 0), (1, 1, 0.5), 1e-4)  # thin cells at one spot, a graded mesh around
    with pytest.raises(ModelError, match=words):
        m.mesh()
    lifted = model(strip, max_nodes=10 ** 7)
    assert 89478484 > len(lifted.mesh().lines[0]) > 10  # a sound mesh stays as it was


def test_matched_layer_lies_beyond_the_air_on_absorbing_faces_only():
    n = 6
    for build, far in ((strip, False), (solid_and_wire, True)):
        plain = model(build)
        if far:  # all faces absorbing, far-field box 3 cells in from the layer
            plain.boundaries("absorbing")
            plain.far_field(10, margin=3)
        base = plain.mesh()
        plain.absorber("pml", cells=n)
        layered = plain.mesh()
        for k in range(3):
            lo = n if plain.boundary[2 * k] == "2" else 0
            hi = n if plain.boundary[2 * k + 1] == "2" else 0
            lines = layered.lines[k]
            assert lines[lo:len(lines) - hi] == base.lines[k], (build, k)
            cells = np.diff(lines)
            assert np.allclose(cells[:lo], cells[lo]) and np.allclose(cells[len(cells) - hi:],
                                                                      cells[len(cells) - hi - 1])
        assert (lo, hi) == (n, n) if far else (0, n)  # z: a ground wall below, no layer there
        text = plain.description(layered)
        assert text.startswith("# run: fendrix t.txt -r --pml=6\nSim ")
        assert ("Radiation 1e10 73 37 9\n" in text) == far  # counted from the grid border
        plain.absorber("first-order")
        assert plain.mesh().lines == base.lines and "# run" not in plain.description()
    # a substrate that runs into the faces goes on through the layers, the strip on it stays
    m = model(strip, margin=0)
    m.absorber("pml", cells=n)
    mesh = m.mesh()
    x, y, z = ([fmt(v) for v in (ls[0], ls[-1])] for ls in mesh.lines)
    text = m.description(mesh)
    assert f"  Cube {x[0]},{y[0]},0 {x[1]},{y[1]},{z[1]}\n" in text
    assert "  Polygon 0.0005 2 0,-0.0005 0.01,-0.0005 0.01,0.0005 0,0.0005\n" in text


@needs_simulator
def test_model_runs_with_the_layer_and_its_run_options(tmp_path, capsys):
    m = model(strip)
    m.absorber("pml", cells=4)
    ds = m.run(tmp_path / "run", binary=str(EXE))
    assert "Perfectly matched layer: 4 cells" in capsys.readouterr().out
    assert np.all(np.isfinite(ds.s)) and np.all(np.abs(ds.s[0]) < 1)
    fake = tmp_path / "fake"
    fake.write_text('#!/bin/sh\necho "$@" > args\nexit 3\n')
    fake.chmod(0o755)
    for kw, words in (({}, "-v0 -t1 -r --pml=4"),
                      (dict(repeatable=False, threads=2), "-v0 -t2 --pml=4"),
                      (dict(extra=["--snapshot-every=9"]), "-v0 -t1 -r --pml=4 --snapshot-every=9")):
        with pytest.raises(RuntimeError, match="exit status 3"):
            m.run(tmp_path, binary=str(fake), **kw)
        assert (tmp_path / "args").read_text() == f"t.txt {words}\n"


@pytest.mark.parametrize("gap, warned", [(0.02, True), (0.0, False)])
def test_report_names_the_edges_behind_the_smallest_cell(gap, warned):
    from fendrix_tools.meshcheck import report_lines

    m = Model("stub", unit="mm", frequency_unit="GHz")
    m.band(1, 5, points=11)
    m.boundaries("absorbing", zlow="electric")
    m.dielectric("substrate", eps_r=3.66).box((-2, -4, 0), (12, 6, 0.254))
    cu = m.metal("copper")
    cu.sheet((0, -0.3, 0.254), (10, 0.3, 0.254), name="line")
    cu.sheet((4.7, 0.3 + gap, 0.254), (5.3, 5, 0.254), name="stub")  # meant to touch the line
    m.port((0, 0, 0), (0, 0, 0.254))
    m.port((10, 0, 0), (10, 0, 0.254))
    text = report_lines(m, m.mesh())
    y = next(line for line in text.splitlines() if line.startswith("  y: smallest cell"))
    assert ("set by line at 0.3 mm and stub at 0.32 mm, 0.02 mm apart" in y) == warned
    assert ("WARNING: y: line at 0.3 mm and stub at 0.32 mm lie 0.02 mm apart" in text) == warned
    assert text.count("WARNING") == warned
