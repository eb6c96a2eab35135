"""Reader and writer against datasets assembled byte by byte here."""

import struct

import numpy as np
import pytest

from fendrix_tools.dataset import DatasetError, read_dataset, write_dataset

PREAMBLE = b"ZeltData" + bytes([0x00, 0x00, 0x02, 0x03])


def rec(flags, count, name, deps=None):
    return struct.pack("<II", flags, count) + name + b"\0" + (deps + b"\0" if deps else b"")


def cplx(*values):
    return b"".join(struct.pack("<dd", v.real, v.imag) for v in values)


def reals(*values):
    return struct.pack(f"<{len(values)}d", *values)


def dataset(header, body):
    return PREAMBLE + struct.pack("<I", len(header)) + header + body


SMALLEST = dataset(rec(3, 1, b"S11", b"frequency") + rec(5, 1, b"frequency"), cplx(0.25 - 0.5j) + reals(2.5e9))
AZ, EL = [-180.0, -90.0, 0.0, 90.0, 180.0], [-90.0, 0.0, 90.0]
PATTERN = [float(10 * e + a) for e in range(3) for a in range(5)]  # azimuth fastest
RADIATION = dataset(
    rec(3, 3, b"S11", b"frequency") + rec(3, 3, b"S21", b"frequency")
    + rec(7, 15, b"radiation", b"azimuth elevation") + rec(3, 15, b"E_azi", b"azimuth elevation")
    + rec(3, 15, b"E_elev", b"azimuth elevation") + rec(5, 1, b"directivity_dBi") + rec(5, 1, b"efficiency")
    + rec(5, 5, b"azimuth") + rec(5, 3, b"elevation") + rec(5, 3, b"frequency"),
    cplx(0.1 + 0.2j, 0.3 + 0.4j, 0.5 + 0.6j) + cplx(1, 1j, -1) + reals(*PATTERN)
    + cplx(*[complex(i, -i) for i in range(15)]) + cplx(*[complex(0, i) for i in range(15)])
    + reals(7.25, 81.5, *AZ, *EL, 1e9, 2e9, 3e9))


def test_reads_and_writes_the_byte_layout(tmp_path):
    assert len(SMALLEST) == 80
    (tmp_path / "a.dat").write_bytes(RADIATION)
    ds = read_dataset(tmp_path / "a.dat")
    assert ds.port_count == 2 and ds.s[1].tolist() == [1, 1j, -1] and ds.s[0, 2] == 0.5 + 0.6j
    assert ds.pattern[2, 1] == 21.0 and ds.pattern[0, 4] == 4.0  # elevation index, azimuth index
    assert ds.e_azimuth[1, 2] == complex(7, -7) and ds.e_elevation[2, 4] == 14j
    assert (ds.directivity_dbi, ds.efficiency) == (7.25, 81.5)
    assert ds.azimuth.tolist() == AZ and ds.frequencies.tolist() == [1e9, 2e9, 3e9]
    write_dataset(tmp_path / "w.dat", [2.5e9], [[0.25 - 0.5j]])
    assert (tmp_path / "w.dat").read_bytes() == SMALLEST
    radiation = dict(pattern=np.array(PATTERN).reshape(3, 5), directivity_dbi=7.25, efficiency=81.5,
                     e_azimuth=np.array([complex(i, -i) for i in range(15)]).reshape(3, 5),
                     e_elevation=np.array([complex(0, i) for i in range(15)]).reshape(3, 5), azimuth=AZ, elevation=EL)
    write_dataset(tmp_path / "w.dat", [1e9, 2e9, 3e9], [[0.1 + 0.2j, 0.3 + 0.4j, 0.5 + 0.6j], [1, 1j, -1]], radiation)
    assert (tmp_path / "w.dat").read_bytes() == RADIATION


@pytest.mark.parametrize("data", [SMALLEST, RADIATION])
def test_every_truncation_is_rejected(tmp_path, data):
    header_end = 16 + int.from_bytes(data[12:16], "little")
    for cut in list(range(header_end)) + list(range(header_end, len(data), 5)):
        (tmp_path / "t.dat").write_bytes(data[:cut])
        with pytest.raises(DatasetError, match="truncated|not a Fendrix"):
            read_dataset(tmp_path / "t.dat")


def patched(data, offset, raw):
    return data[:offset] + raw + data[offset + len(raw):]


@pytest.mark.parametrize("data, words", [
    (b"\x89PNG\r\n\x1a\n" + b"\0" * 40, "not a Fendrix"),
    (patched(SMALLEST, 8, struct.pack("<I", 0x03010000)), "version 0x03010000"),
    (patched(SMALLEST, 12, b"\0\0\0\0"), "did not finish"),
    (patched(SMALLEST, 12, b"\x29"), ""),
    (SMALLEST + b"\0", "unexpected bytes"),
    (patched(SMALLEST, 16, b"\x07"), "flags 7"),
    (patched(SMALLEST, 16, b"\x02"), "invalid flags"),
    (patched(SMALLEST, 20, b"\x02"), "2 values, expected 1"),
    (patched(SMALLEST, 28, b"Frequency"), "depends on"),
    (dataset(rec(5, 1, b"frequency") + rec(3, 1, b"S11", b"frequency"), reals(1e9) + cplx(0)), "last record"),
    (dataset(rec(3, 1, b"S21", b"frequency") + rec(5, 1, b"frequency"), cplx(0) + reals(1e9)), "no coefficient"),
    (patched(RADIATION, 64, struct.pack("<I", 14)), "'radiation' has 14 values, expected 15"),
])
def test_malformed_files_say_what_is_wrong(tmp_path, data, words):
    (tmp_path / "m.dat").write_bytes(data)
    with pytest.raises(DatasetError, match=words):
        read_dataset(tmp_path / "m.dat")
