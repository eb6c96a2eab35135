"""Matrix assembly, port renumbering and Touchstone output against hand-made cases."""

import numpy as np
import pytest
import skrf

from fendrix_tools.description import Description, original_port, port_map
from fendrix_tools.sweep import assemble, reciprocity
from fendrix_tools.touchstone import renormalize, write_touchstone

# A reciprocal 3-port with every entry distinct, at two frequencies.
S3 = np.array([
    [[0.10 + 0.01j, 0.20 + 0.02j, 0.30 + 0.03j],
     [0.20 + 0.02j, 0.40 + 0.04j, 0.50 + 0.05j],
     [0.30 + 0.03j, 0.50 + 0.05j, 0.60 + 0.06j]],
    [[-0.1j, 0.7 + 0j, -0.2 + 0.1j],
     [0.7 + 0j, 0.05 + 0.05j, 0.15 - 0.3j],
     [-0.2 + 0.1j, 0.15 - 0.3j, -0.4 + 0j]],
])


def test_port_map_keeps_the_others_in_order():
    # exciting port 3 of 4: 3 becomes 1, then 1, 2, 4 become 2, 3, 4
    assert [port_map(3, q) for q in (1, 2, 3, 4)] == [2, 3, 1, 4]
    assert [port_map(1, q) for q in (1, 2, 3)] == [1, 2, 3]
    assert [port_map(4, q) for q in (1, 2, 3, 4)] == [2, 3, 4, 1]
    for p in range(1, 6):
        for q in range(1, 6):
            assert original_port(p, port_map(p, q)) == q


def test_assembly_from_hand_written_columns():
    # What each run reports, written out by hand: run p has port p as port 1
    # and the others in order, so its rows are the column p in that order.
    f = slice(None)
    run1 = np.array([S3[f, 0, 0], S3[f, 1, 0], S3[f, 2, 0]])  # ports 1, 2, 3
    run2 = np.array([S3[f, 1, 1], S3[f, 0, 1], S3[f, 2, 1]])  # ports 2, 1, 3
    run3 = np.array([S3[f, 2, 2], S3[f, 0, 2], S3[f, 1, 2]])  # ports 3, 1, 2
    s = assemble([run1, run2, run3], 3)
    assert np.array_equal(s, S3)
    err, i, j, _ = reciprocity(s)
    assert err == 0.0


def test_reciprocity_reports_worst_pair():
    s = S3.copy()
    s[1, 2, 0] += 0.25  # S31 at the second frequency
    err, i, j, fi = reciprocity(s)
    assert (i, j, fi) == (1, 3, 1)
    assert err == pytest.approx(0.25)


DESCRIPTION = (
    "# three ports\n"
    "Sim 0 1e-5 4 out dir/result.dat\n"
    "Freq 2 1e9 2e9 3\n"
    "Boundary 2 2 2 2 0 2\n"
    "xMesh 0,1,2\n"
    "yMesh 0,1,2\n"
    "zMesh 0,1,2\n"
    "Electric 2 2 25 x 1,0,0 1,0,1\n"
    "Metal 0 0 0\n"
    "Cube 0,0,0 1,1,0\n"
    "/\n"
    "Electric 0 1 100 x 0,0,0 0,1,0\n"
    "Electric 1 6 50 1e-12 0,0,0 0,0,1\n"
    "Electric  3 2 x x 2,0,0 2,0,1\n"
)


def test_description_renumbering_changes_only_port_numbers():
    d = Description(DESCRIPTION)
    assert d.results_name == "out dir/result.dat"
    assert d.port_count == 3
    assert d.impedances() == [50.0, 25.0, 1.0]
    expected = DESCRIPTION.replace("Electric 2 2 25", "Electric 3 2 25") \
        .replace("Electric 1 6 50", "Electric 2 6 50").replace("Electric  3 2 x", "Electric  1 2 x")
    assert d.renumbered(3) == expected
    assert d.renumbered(1) == DESCRIPTION


def test_description_port_numbers_must_be_complete():
    with pytest.raises(ValueError, match="1..2"):
        Description(DESCRIPTION.replace("Electric  3 2", "Electric  4 2"))


def read_back(path):
    net = skrf.Network(str(path))
    return net.f, net.s, net.z0


@pytest.mark.parametrize("n", [1, 2, 3, 5])
@pytest.mark.parametrize("fmt", ["RI", "MA"])
def test_touchstone_round_trip_through_scikit_rf(tmp_path, n, fmt):
    rng = np.random.default_rng(n)
    freqs = np.array([1e9, 1.5e9, 2.25e9])
    s = rng.normal(size=(3, n, n)) + 1j * rng.normal(size=(3, n, n))
    s[:, 0, n - 1] = -0.5  # negative real: angle of 180 degrees in MA
    path = tmp_path / f"x.s{n}p"
    write_touchstone(path, freqs, s, 50.0, fmt, comments=["hand-made"])
    f, s_back, z0 = read_back(path)
    assert np.allclose(f, freqs, rtol=1e-12)
    assert np.allclose(s_back, s, atol=1e-9)
    assert np.allclose(z0, 50.0)


def test_touchstone_v1_line_layout(tmp_path):
    s2 = np.array([[[1, 2], [3, 4]]], dtype=complex)  # S11=1 S12=2 S21=3 S22=4
    p = tmp_path / "a.s2p"
    write_touchstone(p, [1e9], s2, 50.0)
    data = [l.split() for l in p.read_text().splitlines() if l and l[0] not in "!#"]
    # two-port: one line, order S11 S21 S12 S22
    assert len(data) == 1
    assert [float(v) for v in data[0][1::2]] == [1, 3, 2, 4]
    assert "# Hz S RI R 50" in p.read_text().splitlines()

    s5 = np.arange(25, dtype=float).reshape(1, 5, 5).astype(complex)
    p = tmp_path / "a.s5p"
    write_touchstone(p, [2e9], s5, 75.0)
    data = [l.split() for l in p.read_text().splitlines() if l and l[0] not in "!#"]
    # five-port: each row on new lines, at most 4 pairs per line
    assert [len(l) for l in data] == [9, 2, 8, 2, 8, 2, 8, 2, 8, 2]
    assert float(data[0][0]) == 2e9
    assert [float(v) for v in data[2][0::2]] == [5, 6, 7, 8]
    assert [float(v) for v in data[3][0::2]] == [9]


def test_renormalize_through_between_unequal_ports():
    # A direct connection of a 50-ohm and a 25-ohm port, each referred to its own
    # impedance: S11 = (25-50)/75, S22 = -S11, S21 = 2 sqrt(50*25)/75.
    t = 2 * np.sqrt(50 * 25) / 75
    s = np.array([[[-1 / 3, t], [t, 1 / 3]]], dtype=complex)
    s50 = renormalize(s, [50, 25], 50)
    assert np.allclose(s50, [[[0, 1], [1, 0]]], atol=1e-12)
    # Independent route through the impedance matrix, for a general 3-port:
    # Z = sqrt(R) (I - S)^-1 (I + S) sqrt(R), then S' = (Z - z0 I)(Z + z0 I)^-1.
    zs = np.array([50.0, 25.0, 75.0])
    s3 = S3[1]
    root = np.diag(np.sqrt(zs))
    eye = np.eye(3)
    zmat = root @ np.linalg.inv(eye - s3) @ (eye + s3) @ root
    expected = (zmat - 50 * eye) @ np.linalg.inv(zmat + 50 * eye)
    assert np.allclose(renormalize(S3[1:], zs, 50.0)[0], expected, atol=1e-12)
    # a 100-ohm load seen from 25 and from 50 ohm
    assert renormalize(np.array([[[0.6 + 0j]]]), 25, 50)[0, 0, 0] == pytest.approx(1 / 3)
