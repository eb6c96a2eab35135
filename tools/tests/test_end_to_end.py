"""Full sweep of the bundled two-port line with the real simulator.

Uses build/fendrix of this checkout (FENDRIX_BINARY overrides); skips when it
is not built.
"""

import os
from pathlib import Path

import numpy as np
import pytest
import skrf

from fendrix_tools import read_dataset
from fendrix_tools.sweep import reciprocity, sweep

REPO = Path(__file__).resolve().parents[2]
EXAMPLE = REPO / "examples" / "two_port_line.txt"

# A port-numbering mistake swaps a transmission (about 1 on this matched line)
# with a reflection (well below 1), which shows as |S12 - S21| of several
# tenths; a correct sweep of this reciprocal structure stays at a few hundredths
# (absorbing boundaries, finite run).
RECIPROCITY_TOLERANCE = 0.1


@pytest.fixture(scope="module")
def binary():
    exe = Path(os.environ.get("FENDRIX_BINARY") or REPO / "build" / "fendrix")
    if not exe.is_file():
        pytest.skip(f"simulator not built: {exe} (cmake -S . -B build -G Ninja && ninja -C build fendrix)")
    return exe


def test_two_port_sweep_is_reciprocal(binary, tmp_path):
    out = tmp_path / "line.s2p"
    res = sweep(EXAMPLE, binary, output=out, workdir=tmp_path / "runs")
    s = res.s
    assert s.shape == (91, 2, 2) and np.all(np.isfinite(s))
    err, _, _, _ = reciprocity(s)
    assert err < RECIPROCITY_TOLERANCE, f"max |S12 - S21| = {err}"
    # a through line: strong transmission, both ends reasonably matched
    assert np.mean(np.abs(s[:, 1, 0])) > 0.7
    assert np.mean(np.abs(s[:, 0, 0])) < 0.5 and np.mean(np.abs(s[:, 1, 1])) < 0.5
    # the line is stepped, so the two ends differ: a sweep that failed to
    # renumber would return port 1's reflection for port 2 as well
    assert np.max(np.abs(s[:, 0, 0] - s[:, 1, 1])) > 0.01
    # the first run is the description unchanged: its dataset is column 1
    first = read_dataset(tmp_path / "runs" / "port1" / "two_port_line.dat")
    assert np.array_equal(first.s[:, :], s[:, :, 0].T)
    net = skrf.Network(str(out))
    assert np.allclose(net.s, s, atol=1e-9) and np.allclose(net.z0, 50.0)
    # runs end at the same step whatever the thread count: the same file, byte for byte
    again = tmp_path / "again.s2p"
    sweep(EXAMPLE, binary, output=again, threads=2)
    assert again.read_bytes() == out.read_bytes()
