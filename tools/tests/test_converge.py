"""Mesh convergence: the decision on made-up result sequences, the split of a
hand mesh around free metal edges, and one short real run."""

import io
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from fendrix_tools.converge import (Result, agrees, change, extrapolate, minimum_frequency,
                                    split_axis)

F = np.linspace(1e9, 5e9, 81)


def result(h, notch=3e9, depth=0.0, directivity=None, efficiency=None):
    """|S21| with a zero at `notch` (a pair of linear slopes in S21), S11 flat."""
    s21 = (F - notch) / 2e9 + 1j * depth
    s11 = np.full_like(F, 0.3, dtype=complex)
    return Result(h, 0, 0, 0.0, F, np.array([s11, s21]), directivity, efficiency)


@pytest.mark.parametrize("values, hs, expect, spread_at_least", [
    # second order, two runs: exact
    ([3.0e9 + 4e7, 3.0e9 + 1e7], [1, 0.5], 3.0e9, 0),
    # order 1.5 from three runs: exact, not the second-order guess
    ([3.0e9 + 8e7, 3.0e9 + 8e7 / 2 ** 1.5, 3.0e9 + 8e7 / 4 ** 1.5], [1, 0.5, 0.25], 3.0e9, 0),
    # oscillating: no better than the last step
    ([3.0e9 + 4e7, 3.0e9 - 2e7, 3.0e9 + 1e7], [1, 0.5, 0.25], None, 3e7),
])
def test_extrapolate(values, hs, expect, spread_at_least):
    value, spread = extrapolate(values, hs)
    if expect is not None:
        assert value == pytest.approx(expect, abs=1e3)
    assert spread >= spread_at_least
    assert extrapolate(values[:1], hs[:1]) is None


def test_sequences_decide():
    # converging: the notch approaches 3 GHz as h^2; the change falls below tol on the third step
    seq = [result(h, notch=3e9 + 4e8 * h ** 2) for h in (1, 0.5, 0.25, 0.125)]
    changes = [change(a, b) for a, b in zip(seq, seq[1:])]
    assert [agrees(c, 0.02) for c in changes] == [False, False, True]
    assert changes[0].port == 2 and changes[0].s == pytest.approx(0.15, rel=0.05)
    assert minimum_frequency(F, seq[-1].s[1]) == pytest.approx(3e9 + 4e8 / 64, rel=1e-6)
    # oscillating: never agrees
    osc = [result(1, notch=3e9 + 1e8 * (-1) ** n) for n in range(4)]
    assert not any(agrees(change(a, b), 0.02) for a, b in zip(osc, osc[1:]))
    # |S| agrees, the far field does not (0.1 dB, 0.5 points)
    a, b = result(1, directivity=6.0, efficiency=90.0), result(1, directivity=6.15, efficiency=90.1)
    assert not agrees(change(a, b), 0.02)
    b.directivity = 6.05
    assert agrees(change(a, b), 0.02)
    b.efficiency = 90.6
    assert not agrees(change(a, b), 0.02)
    # a minimum on the band edge is no resonance
    assert minimum_frequency(F, F - F[0]) is None


@pytest.mark.parametrize("side, held", [(-1, ()), (1, ()), (-1, (0.9,))])
def test_split_keeps_free_edges_a_third_in(side, held):
    """Edge at 1.0 with the metal below (side -1: the inner line at 0.9) or
    above (inner line at 1.1); a held inner line keeps the edge cell whole."""
    h = 0.3
    lines = sorted({round(1.0 + side * h / 3 + h * j, 12) for j in range(-4, 5)})
    for step in range(2):
        new = split_axis(lines, {1.0: side}, held)
        i = int(np.searchsorted(new, 1.0))
        a, b = new[i - 1], new[i]
        inner = b if side > 0 else a
        cell = h if held else h / 2 ** (step + 1)
        assert b - a == pytest.approx(cell)
        assert abs(1.0 - inner) == pytest.approx(cell / 3)  # a third of the cell inside the metal
        cells = np.diff(new)
        assert held or max(np.maximum(cells[1:] / cells[:-1], cells[:-1] / cells[1:])) < 2.01
        assert len(new) >= 2 * len(lines) - 3
        lines = new


TINY = """# a short microstrip line on a coarse mesh
Sim 20 1e-3 4 tiny.dat
Freq 2 1e9 6e9 41
Boundary 2 2 2 2 0 2
xMesh -0.002,0,0.002,0.004,0.006,0.008,0.01,0.012
yMesh -0.004,-0.002,-0.0011,-0.0003,0.0011,0.002,0.004
zMesh 0,0.0004,0.0008,0.002,0.004
Dielectric 3.66 0
  Cube -0.002,-0.004,0 0.012,0.004,0.0008
/
Metal 0 0 0
  Cube 0,-0.0007,0.0008 0.01,0.0007,0.0008
/
Electric 1 2 50 x 0,0,0 0,0,0.0008
Electric 2 2 50 x 0.01,0,0 0.01,0,0.0008
"""


@pytest.mark.skipif(not Path(os.environ.get("FENDRIX_BINARY", "build/fendrix")).is_file(),
                    reason="no simulator")
def test_converge_command(tmp_path):
    (tmp_path / "tiny.txt").write_text(TINY)
    env = dict(os.environ, PYTHONPATH=str(Path(__file__).resolve().parents[1]))

    def run(*opts):
        return subprocess.run([sys.executable, "-m", "fendrix_tools", "converge", "tiny.txt",
                               "-o", "conv.txt", *opts], cwd=tmp_path, env=env,
                              capture_output=True, text=True)

    ok = run("--tol", "0.5")
    assert ok.returncode == 0, ok.stderr
    assert "Converged: runs 1 and 2 agree" in ok.stdout
    text = (tmp_path / "conv.txt").read_text()
    assert "Sim 20 1e-3 4 conv.dat\n" in text and (tmp_path / "conv.dat").is_file()
    assert text.split("\n")[4].count(",") == 2 * 7  # x split once: 8 lines become 15
    budget = run("--max-nodes", "1000")
    assert budget.returncode == 3
    assert "NOT converged: run 2 would need 1872 nodes, beyond the node budget of 1000" \
        in budget.stdout


@pytest.mark.skipif(not Path(os.environ.get("FENDRIX_BINARY", "build/fendrix")).is_file(),
                    reason="no simulator")
def test_model_converge_raises_the_density(tmp_path):
    from fendrix_tools.model import Model

    m = Model("line", unit="mm", frequency_unit="GHz")
    m.band(2, 6, points=41)
    m.boundaries("absorbing", zlow="electric")
    m.dielectric("substrate", eps_r=3.38).box((-2, -4, 0), (12, 4, 0.508))
    m.metal("copper").sheet((0, -0.6, 0.508), (10, 0.6, 0.508))
    m.port((0, 0, 0), (0, 0, 0.508))
    m.port((10, 0, 0), (10, 0, 0.508))
    m.mesh_settings(cells_per_wavelength=10, thin_cells=1, margin=3)
    outcome = m.converge(tol=1e-6, max_runs=2, workdir=tmp_path, out=io.StringIO())
    nodes = [r.nodes for r in outcome.results]
    # a density that adds next to no nodes is passed over
    assert not outcome.converged and nodes[1] > 1.1 * nodes[0]
    assert m.settings.density == 1.0
