"""Matrix assembly, port renumbering and Touchstone output against hand-made cases."""

import numpy as np
import pytest
import skrf

from fendrix_tools.description import Description, original_port, port_map
from fendrix_tools.sweep import assemble, reciprocity
from fendrix_tools.touchstone import renormalize, write_touchstone

# A reciprocal 3-port with every entry distinct, at two frequencies.
S3 = np.array([[[0.1 + 0.01j, 0.2 + 0.02j, 0.3 + 0.03j], [0.2 + 0.02j, 0.4 + 0.04j, 0.5 + 0.05j],
                [0.3 + 0.03j, 0.5 + 0.05j, 0.6 + 0.06j]],
               [[-0.1j, 0.7, -0.2 + 0.1j], [0.7, 0.05 + 0.05j, 0.15 - 0.3j], [-0.2 + 0.1j, 0.15 - 0.3j, -0.4]]])


def test_renumbering_assembly_and_reciprocity():
    # exciting port 3 of 4: 3 becomes 1, then 1, 2, 4 become 2, 3, 4
    assert [port_map(3, q) for q in (1, 2, 3, 4)] == [2, 3, 1, 4]
    assert all(original_port(p, port_map(p, q)) == q for p in range(1, 6) for q in range(1, 6))
    # What each run reports, by hand: run p has port p first and the others in order.
    f = slice(None)
    runs = [np.array([S3[f, 0, 0], S3[f, 1, 0], S3[f, 2, 0]]), np.array([S3[f, 1, 1], S3[f, 0, 1], S3[f, 2, 1]]),
            np.array([S3[f, 2, 2], S3[f, 0, 2], S3[f, 1, 2]])]
    assert np.array_equal(assemble(runs, 3), S3)
    s = S3.copy()
    s[1, 2, 0] += 0.25  # S31 at the second frequency
    err, i, j, fi = reciprocity(s)
    assert (i, j, fi) == (1, 3, 1) and err == pytest.approx(0.25)


DESCRIPTION = ("# three ports\nSim 0 1e-5 4 out dir/result.dat\nFreq 2 1e9 2e9 3\nBoundary 2 2 2 2 0 2\n"
               "xMesh 0,1,2\nyMesh 0,1,2\nzMesh 0,1,2\nElectric 2 2 25 x 1,0,0 1,0,1\nMetal 0 0 0\nCube 0,0,0 1,1,0\n"
               "/\nElectric 0 1 100 x 0,0,0 0,1,0\nElectric 1 6 50 1e-12 0,0,0 0,0,1\nElectric  3 2 x x 2,0,0 2,0,1\n")


def test_description_renumbering_changes_only_port_numbers():
    d = Description(DESCRIPTION)
    assert (d.results_name, d.port_count, d.impedances()) == ("out dir/result.dat", 3, [50.0, 25.0, 1.0])
    expected = DESCRIPTION.replace("Electric 2 2 25", "Electric 3 2 25") \
        .replace("Electric 1 6 50", "Electric 2 6 50").replace("Electric  3 2 x", "Electric  1 2 x")
    assert d.renumbered(3) == expected and d.renumbered(1) == DESCRIPTION
    with pytest.raises(ValueError, match="1..2"):
        Description(DESCRIPTION.replace("Electric  3 2", "Electric  4 2"))


@pytest.mark.parametrize("n, fmt", [(1, "RI"), (2, "MA"), (3, "RI"), (5, "MA")])
def test_touchstone_round_trip_through_scikit_rf(tmp_path, n, fmt):
    rng = np.random.default_rng(n)
    freqs = np.array([1e9, 1.5e9, 2.25e9])
    s = rng.normal(size=(3, n, n)) + 1j * rng.normal(size=(3, n, n))
    s[:, 0, n - 1] = -0.5  # negative real: angle of 180 degrees in MA
    path = tmp_path / f"x.s{n}p"
    write_touchstone(path, freqs, s, 50.0, fmt, comments=["hand-made"])
    net = skrf.Network(str(path))
    assert np.allclose(net.f, freqs, rtol=1e-12) and np.allclose(net.s, s, atol=1e-9) and np.allclose(net.z0, 50)


def test_touchstone_v1_line_layout(tmp_path):
    def rows(n):
        p = tmp_path / f"a.s{n}p"
        write_touchstone(p, [2e9], np.arange(n * n, dtype=complex).reshape(1, n, n), 50.0)
        assert "# Hz S RI R 50" in p.read_text().splitlines()
        return [[float(v) for v in l.split()] for l in p.read_text().splitlines() if l and l[0] not in "!#"]
    assert rows(2) == [[2e9, 0, 0, 2, 0, 1, 0, 3, 0]]  # two-port: one line, S11 S21 S12 S22
    # five-port: each row on new lines, at most 4 pairs per line
    data = rows(5)
    assert [len(l) for l in data] == [9, 2, 8, 2, 8, 2, 8, 2, 8, 2]
    assert data[2][0::2] == [5, 6, 7, 8] and data[3][0::2] == [9]


def test_renormalize_through_between_unequal_ports():
    # A direct connection of a 50-ohm and a 25-ohm port, each referred to its own
    # impedance: S11 = (25-50)/75, S22 = -S11, S21 = 2 sqrt(50*25)/75.
    t = 2 * np.sqrt(50 * 25) / 75
    s = np.array([[[-1 / 3, t], [t, 1 / 3]]], dtype=complex)
    s50 = renormalize(s, [50, 25], 50)
    assert np.allclose(s50, [[[0, 1], [1, 0]]], atol=1e-12)
    # Independent route through the impedance matrix, for a general 3-port:
    # Z = sqrt(R) (I - S)^-1 (I + S) sqrt(R), then S' = (Z - z0 I)(Z + z0 I)^-1.
    zs, eye = np.array([50.0, 25.0, 75.0]), np.eye(3)
    root = np.diag(np.sqrt(zs))
    zmat = root @ np.linalg.inv(eye - S3[1]) @ (eye + S3[1]) @ root
    expected = (zmat - 50 * eye) @ np.linalg.inv(zmat + 50 * eye)
    assert np.allclose(renormalize(S3[1:], zs, 50.0)[0], expected, atol=1e-12)
    # a 100-ohm load seen from 25 and from 50 ohm
    assert renormalize(np.array([[[0.6 + 0j]]]), 25, 50)[0, 0, 0] == pytest.approx(1 / 3)
