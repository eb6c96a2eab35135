"""Reader against datasets assembled byte by byte here."""

import struct

import numpy as np
import pytest

from fendrix_tools.dataset import DatasetError, read_dataset, write_dataset

MAGIC_VERSION = b"ZeltData" + bytes([0x00, 0x00, 0x02, 0x03])


def rec(flags, count, name, deps=None):
    out = struct.pack("<II", flags, count) + name + b"\0"
    if deps is not None:
        out += deps + b"\0"
    return out


def cplx(*values):
    return b"".join(struct.pack("<dd", v.real, v.imag) for v in values)


def reals(*values):
    return b"".join(struct.pack("<d", v) for v in values)


def one_port_single_frequency():
    """The smallest dataset: one port, one frequency, 80 bytes."""
    data = (MAGIC_VERSION + bytes([0x28, 0, 0, 0])
            + bytes([3, 0, 0, 0, 1, 0, 0, 0]) + b"S11\0" + b"frequency\0"
            + bytes([5, 0, 0, 0, 1, 0, 0, 0]) + b"frequency\0"
            + cplx(0.25 - 0.5j) + reals(2.5e9))
    assert len(data) == 80
    return data


def two_ports_with_radiation():
    """2 ports, 3 frequencies, 5 azimuths x 3 elevations."""
    az = [-180.0, -90.0, 0.0, 90.0, 180.0]
    el = [-90.0, 0.0, 90.0]
    pattern = [float(10 * e + a) for e in range(3) for a in range(5)]  # azimuth fastest
    header = (rec(3, 3, b"S11", b"frequency") + rec(3, 3, b"S21", b"frequency")
              + rec(7, 15, b"radiation", b"azimuth elevation")
              + rec(3, 15, b"E_azi", b"azimuth elevation")
              + rec(3, 15, b"E_elev", b"azimuth elevation")
              + rec(5, 1, b"directivity_dBi") + rec(5, 1, b"efficiency")
              + rec(5, 5, b"azimuth") + rec(5, 3, b"elevation") + rec(5, 3, b"frequency"))
    assert len(header) == 22 * 2 + 196
    body = (cplx(0.1 + 0.2j, 0.3 + 0.4j, 0.5 + 0.6j) + cplx(1 + 0j, 0 + 1j, -1 + 0j)
            + reals(*pattern)
            + cplx(*[complex(i, -i) for i in range(15)])
            + cplx(*[complex(0, i) for i in range(15)])
            + reals(7.25) + reals(81.5) + reals(*az) + reals(*el) + reals(1e9, 2e9, 3e9))
    return MAGIC_VERSION + struct.pack("<I", len(header)) + header + body


def write(tmp_path, data, name="d.dat"):
    p = tmp_path / name
    p.write_bytes(data)
    return p


def test_smallest_dataset_reads_back(tmp_path):
    ds = read_dataset(write(tmp_path, one_port_single_frequency()))
    assert ds.port_count == 1
    assert ds.frequencies.tolist() == [2.5e9]
    assert ds.s[0, 0] == 0.25 - 0.5j
    assert not ds.has_radiation and ds.pattern is None and ds.efficiency is None


def test_one_port_size_formula(tmp_path):
    # 56 + 24 N bytes with a header size word of 40
    n = 7
    header = rec(3, n, b"S11", b"frequency") + rec(5, n, b"frequency")
    data = (MAGIC_VERSION + struct.pack("<I", len(header)) + header
            + cplx(*[complex(k, 1) for k in range(n)]) + reals(*[1e9 * k for k in range(n)]))
    assert len(data) == 56 + 24 * n and len(header) == 40
    ds = read_dataset(write(tmp_path, data))
    assert ds.s[0, 3] == 3 + 1j and ds.frequencies[-1] == 6e9


def test_radiation_dataset(tmp_path):
    ds = read_dataset(write(tmp_path, two_ports_with_radiation()))
    assert ds.port_count == 2
    assert ds.s[1].tolist() == [1 + 0j, 1j, -1 + 0j]
    assert ds.s[0, 2] == 0.5 + 0.6j
    assert ds.pattern.shape == (3, 5)
    # value at azimuth index a, elevation index e stands at e*A + a
    assert ds.pattern[2, 1] == 21.0 and ds.pattern[0, 4] == 4.0
    assert ds.e_azimuth[1, 2] == complex(7, -7)
    assert ds.e_elevation[2, 4] == 14j
    assert ds.directivity_dbi == 7.25 and ds.efficiency == 81.5
    assert ds.azimuth.tolist() == [-180, -90, 0, 90, 180]
    assert ds.elevation.tolist() == [-90, 0, 90]
    assert ds.frequencies.tolist() == [1e9, 2e9, 3e9]


def test_synthetic_writer_matches_byte_layout(tmp_path):
    p = tmp_path / "w.dat"
    write_dataset(p, [2.5e9], [[0.25 - 0.5j]])
    assert p.read_bytes() == one_port_single_frequency()
    radiation = dict(pattern=np.arange(15.0).reshape(3, 5) * 0 + np.array(
        [[10 * e + a for a in range(5)] for e in range(3)], dtype=float),
        e_azimuth=np.array([complex(i, -i) for i in range(15)]).reshape(3, 5),
        e_elevation=np.array([complex(0, i) for i in range(15)]).reshape(3, 5),
        directivity_dbi=7.25, efficiency=81.5,
        azimuth=[-180.0, -90.0, 0.0, 90.0, 180.0], elevation=[-90.0, 0.0, 90.0])
    write_dataset(p, [1e9, 2e9, 3e9], [[0.1 + 0.2j, 0.3 + 0.4j, 0.5 + 0.6j], [1, 1j, -1]],
                  radiation)
    assert p.read_bytes() == two_ports_with_radiation()


@pytest.mark.parametrize("maker", [one_port_single_frequency, two_ports_with_radiation])
def test_every_truncation_is_rejected(tmp_path, maker):
    data = maker()
    p = tmp_path / "t.dat"
    # every cut inside the preamble and header, then every 5th byte of the data
    header_end = 16 + int.from_bytes(data[12:16], "little")
    for cut in list(range(header_end)) + list(range(header_end, len(data), 5)):
        p.write_bytes(data[:cut])
        with pytest.raises(DatasetError) as err:
            read_dataset(p)
        msg = str(err.value)
        assert ("truncated" in msg or "not a Fendrix" in msg), (cut, msg)


@pytest.mark.parametrize("data, words", [
    (b"", "not a Fendrix"),
    (b"\x89PNG\r\n\x1a\n" + b"\0" * 40, "not a Fendrix"),
    (b"Sim 10 1e-5 4 out.dat\nFreq 2 1e9 1e10 91\n", "not a Fendrix"),
    (b"ZeltDat", "truncated"),
])
def test_foreign_files(tmp_path, data, words):
    with pytest.raises(DatasetError, match=words):
        read_dataset(write(tmp_path, data))


def patched(data, offset, raw):
    return data[:offset] + raw + data[offset + len(raw):]


def test_wrong_version(tmp_path):
    data = patched(one_port_single_frequency(), 8, struct.pack("<I", 0x03010000))
    with pytest.raises(DatasetError, match="version 0x03010000"):
        read_dataset(write(tmp_path, data))


def test_unfinished_file_has_header_size_zero(tmp_path):
    data = patched(one_port_single_frequency(), 12, b"\0\0\0\0")
    with pytest.raises(DatasetError, match="did not finish"):
        read_dataset(write(tmp_path, data))


def test_header_size_off_by_one(tmp_path):
    for size in (39, 41):
        data = patched(one_port_single_frequency(), 12, struct.pack("<I", size))
        with pytest.raises(DatasetError):
            read_dataset(write(tmp_path, data))


def test_trailing_bytes(tmp_path):
    with pytest.raises(DatasetError, match="unexpected bytes"):
        read_dataset(write(tmp_path, one_port_single_frequency() + b"\0"))


def test_bad_flags_and_counts(tmp_path):
    base = one_port_single_frequency()
    # S11 marked real
    with pytest.raises(DatasetError, match="flags 7"):
        read_dataset(write(tmp_path, patched(base, 16, b"\x07")))
    # bit 0 missing
    with pytest.raises(DatasetError, match="invalid flags"):
        read_dataset(write(tmp_path, patched(base, 16, b"\x02")))
    # S11 with 2 values but a single frequency
    with pytest.raises(DatasetError, match="2 values, expected 1"):
        read_dataset(write(tmp_path, patched(base, 20, b"\x02")))
    # wrong dependency
    with pytest.raises(DatasetError, match="depends on"):
        read_dataset(write(tmp_path, patched(base, 28, b"Frequency")))


def test_records_out_of_order(tmp_path):
    header = rec(5, 1, b"frequency") + rec(3, 1, b"S11", b"frequency")
    data = MAGIC_VERSION + struct.pack("<I", len(header)) + header + reals(1e9) + cplx(0j)
    with pytest.raises(DatasetError, match="last record must be 'frequency'"):
        read_dataset(write(tmp_path, data))
    header = rec(3, 1, b"S21", b"frequency") + rec(5, 1, b"frequency")
    data = MAGIC_VERSION + struct.pack("<I", len(header)) + header + cplx(0j) + reals(1e9)
    with pytest.raises(DatasetError, match="no coefficient record S11"):
        read_dataset(write(tmp_path, data))


def test_radiation_counts_must_match_grids(tmp_path):
    data = two_ports_with_radiation()
    off = 16 + 44 + 4  # count word of "radiation"
    with pytest.raises(DatasetError, match="'radiation' has 14 values, expected 15"):
        read_dataset(write(tmp_path, patched(data, off, struct.pack("<I", 14))))
