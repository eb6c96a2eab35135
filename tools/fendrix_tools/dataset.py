"""Reader for the binary results dataset that the simulator writes.

Layout (all little-endian, no padding):

    offset 0   8 bytes   magic "ZeltData"
    offset 8   u32       version 0x03020000
    offset 12  u32       header size H: bytes of all variable records
    offset 16  H bytes   variable records, back to back
    16 + H     ...       values of every record, in record order

A record is: u32 flags, u32 count, NUL-terminated name, and when flag bit 1
is set a NUL-terminated list of dependency names separated by blanks.
Flag bit 0 is always set, bit 2 marks real values (8 bytes each); without it
the values are complex (two doubles, real part first, 16 bytes each).

The records are, in this order: S11, S21, ... Sn1 (complex, over frequency);
then, only for a far-field run, "radiation" (linear directivity pattern),
"E_azi", "E_elev" (normalised far-field components), "directivity_dBi",
"efficiency" (percent), "azimuth", "elevation" (degrees); finally
"frequency" (Hz).  Direction-dependent values run azimuth fastest.
"""

from __future__ import annotations

import os
import struct
from dataclasses import dataclass, field
from typing import Optional

import numpy as np

MAGIC = b"ZeltData"
VERSION = 0x03020000
PREAMBLE_SIZE = 16

FLAG_PRESENT = 1
FLAG_DEPENDENCIES = 2
FLAG_REAL = 4

# Records of a far-field run, between the coefficients and "frequency":
# (name, flags, dependency list or None, count kind).
RADIATION_RECORDS = (
    ("radiation", 7, "azimuth elevation", "pattern"),
    ("E_azi", 3, "azimuth elevation", "pattern"),
    ("E_elev", 3, "azimuth elevation", "pattern"),
    ("directivity_dBi", 5, None, "scalar"),
    ("efficiency", 5, None, "scalar"),
    ("azimuth", 5, None, "azimuth"),
    ("elevation", 5, None, "elevation"),
)


class DatasetError(ValueError):
    """The file is not a complete, well-formed results dataset."""


@dataclass
class Record:
    name: str
    flags: int
    count: int
    dependencies: Optional[str]

    @property
    def is_real(self) -> bool:
        return bool(self.flags & FLAG_REAL)

    @property
    def value_size(self) -> int:
        return 8 if self.is_real else 16


@dataclass
class Dataset:
    """Contents of one results dataset.

    ``s[k]`` is the complex coefficient S(k+1)1 over ``frequencies``: the wave
    leaving port k+1 for a wave incident at port 1, each referred to its own
    port's reference impedance.  The far-field members are None for a run
    without a far-field request.  ``pattern``, ``e_azimuth`` and
    ``e_elevation`` are shaped (elevations, azimuths).
    """

    path: str
    frequencies: np.ndarray
    s: np.ndarray  # complex, shape (ports, frequencies)
    pattern: Optional[np.ndarray] = None  # linear directivity
    e_azimuth: Optional[np.ndarray] = None
    e_elevation: Optional[np.ndarray] = None
    directivity_dbi: Optional[float] = None
    efficiency: Optional[float] = None  # percent
    azimuth: Optional[np.ndarray] = None  # degrees
    elevation: Optional[np.ndarray] = None  # degrees
    records: list = field(default_factory=list)

    @property
    def port_count(self) -> int:
        return self.s.shape[0]

    @property
    def has_radiation(self) -> bool:
        return self.pattern is not None

    def pattern_dbi(self, floor_db: float = -300.0) -> np.ndarray:
        """Directivity pattern in dBi, with zeros clipped at ``floor_db``."""
        with np.errstate(divide="ignore"):
            d = 10.0 * np.log10(self.pattern)
        return np.maximum(d, floor_db)


def coefficient_name(k: int) -> str:
    """Name of the record of port k+1 (k from 0): S11, S21, ... (past the
    ninth port the middle character runs on in the character table)."""
    return "S" + chr(ord("1") + k) + "1"



def _terminated_text(header, pos, path, what):
    """The NUL-terminated text at pos and the position after its NUL."""
    nul = header.find(b"\0", pos)
    if nul < 0:
        raise DatasetError(f"{path}: {what} is not terminated inside the header")
    return header[pos:nul].decode("latin-1"), nul + 1

def _parse_records(path: str, header: bytes) -> list:
    records = []
    pos = 0
    end = len(header)
    while pos < end:
        if pos + 8 > end:
            raise DatasetError(
                f"{path}: record {len(records) + 1} at header byte {pos} is cut off "
                f"by the header size ({end} bytes)")
        flags, count = struct.unpack_from("<II", header, pos)
        pos += 8
        if not flags & FLAG_PRESENT or flags & ~7:
            raise DatasetError(f"{path}: record {len(records) + 1} has invalid flags {flags}")
        name, pos = _terminated_text(header, pos, path, f"name of record {len(records) + 1}")
        deps = None
        if flags & FLAG_DEPENDENCIES:
            deps, pos = _terminated_text(header, pos, path, f"dependency list of record '{name}'")
        records.append(Record(name, flags, count, deps))
    return records


def _check_record(path: str, rec: Record, name: str, flags: int, deps, count: int) -> None:
    if rec.name != name:
        raise DatasetError(f"{path}: expected record '{name}', found '{rec.name}'")
    if rec.flags != flags:
        raise DatasetError(f"{path}: record '{name}' has flags {rec.flags}, expected {flags}")
    if rec.dependencies != deps:
        raise DatasetError(f"{path}: record '{name}' depends on {rec.dependencies!r}, "
                           f"expected {deps!r}")
    if rec.count != count:
        raise DatasetError(f"{path}: record '{name}' has {rec.count} values, expected {count}")


def _check_layout(path: str, records: list) -> tuple:
    """Check the record sequence; return (port count, azimuths, elevations)."""
    if not records or records[-1].name != "frequency":
        raise DatasetError(f"{path}: the last record must be 'frequency'")
    freq = records[-1]
    n_freq = freq.count
    _check_record(path, freq, "frequency", 5, None, n_freq)
    ports = 0
    while ports < len(records) - 1 and records[ports].name == coefficient_name(ports):
        _check_record(path, records[ports], coefficient_name(ports), 3, "frequency", n_freq)
        ports += 1
    if ports == 0:
        raise DatasetError(f"{path}: no coefficient record S11")
    rest = records[ports:-1]
    if not rest:
        return ports, 0, 0
    if len(rest) != len(RADIATION_RECORDS):
        raise DatasetError(f"{path}: unexpected record '{rest[0].name}' after "
                           f"{coefficient_name(ports - 1)}")
    by_name = {r.name: r for r in rest}
    n_az = by_name["azimuth"].count if "azimuth" in by_name else 0
    n_el = by_name["elevation"].count if "elevation" in by_name else 0
    counts = {"pattern": n_az * n_el, "scalar": 1, "azimuth": n_az, "elevation": n_el}
    for rec, (name, flags, deps, kind) in zip(rest, RADIATION_RECORDS):
        _check_record(path, rec, name, flags, deps, counts[kind])
    return ports, n_az, n_el


# Arrays at least this large are mapped from the file rather than read: a
# dataset of several gigabytes then costs no more memory than what is used.
MAP_BYTES = 16 * 2 ** 20


def _values(f, path, offset, count, dtype):
    """``count`` values of ``dtype`` at ``offset`` of the open file."""
    dtype = np.dtype(dtype)
    if count * dtype.itemsize >= MAP_BYTES:
        return np.memmap(f, dtype=dtype, mode="c", offset=offset, shape=(count,))
    f.seek(offset)
    arr = np.fromfile(f, dtype=dtype, count=count)
    if len(arr) != count:  # the file shrank while it was read
        raise DatasetError(f"{path}: truncated: {count} values at byte {offset} could not be read")
    return arr


def read_dataset(path) -> Dataset:
    """Read a results dataset: the header, then each record's values from
    their place in the file (large ones mapped, not read).

    Raises DatasetError with a readable reason for a foreign, unfinished,
    truncated or otherwise malformed file, and OSError if it cannot be read.
    """
    path = os.fspath(path)
    with open(path, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        preamble = f.read(PREAMBLE_SIZE)
        if size == 0:
            raise DatasetError(f"{path}: empty file, not a Fendrix results dataset")
        if len(preamble) < PREAMBLE_SIZE:
            if not MAGIC.startswith(preamble[:8]):
                raise DatasetError(f"{path}: not a Fendrix results dataset (no 'ZeltData' magic)")
            raise DatasetError(f"{path}: truncated: {len(preamble)} bytes, the preamble alone "
                               f"needs {PREAMBLE_SIZE}")
        if preamble[:8] != MAGIC:
            raise DatasetError(f"{path}: not a Fendrix results dataset (magic {preamble[:8]!r}, "
                               f"expected b'ZeltData')")
        version, header_size = struct.unpack_from("<II", preamble, 8)
        if version != VERSION:
            raise DatasetError(f"{path}: unsupported dataset version 0x{version:08x} "
                               f"(expected 0x{VERSION:08x})")
        if header_size == 0:
            raise DatasetError(f"{path}: header size is 0: the simulator did not finish "
                               f"writing this file")
        if PREAMBLE_SIZE + header_size > size:
            raise DatasetError(f"{path}: truncated: header of {header_size} bytes does not fit "
                               f"in the {size}-byte file")
        header = f.read(header_size)
        if len(header) != header_size:
            raise DatasetError(f"{path}: truncated: header of {header_size} bytes could not be "
                               f"read")
        records = _parse_records(path, header)
        ports, n_az, n_el = _check_layout(path, records)

        start = PREAMBLE_SIZE + header_size
        expected = start + sum(r.count * r.value_size for r in records)
        if size < expected:
            raise DatasetError(f"{path}: truncated: {size} bytes, the records announce {expected}")
        if size > expected:
            raise DatasetError(f"{path}: {size - expected} unexpected bytes after the data "
                               f"(file is {size} bytes, the records announce {expected})")

        offsets, pos = {}, start
        for rec in records:
            offsets[rec.name] = pos
            pos += rec.count * rec.value_size

        def values(name):
            rec = next(r for r in records if r.name == name)
            return _values(f, path, offsets[name], rec.count, "<f8" if rec.is_real else "<c16")

        n_freq = records[-1].count
        # the coefficient records lie back to back: one array for all of them
        s = _values(f, path, start, ports * n_freq, "<c16").reshape(ports, n_freq)
        ds = Dataset(path=path, frequencies=values("frequency"), s=s, records=records)
        if len(records) > ports + 1:
            shape = (n_el, n_az)
            ds.pattern = values("radiation").reshape(shape)
            ds.e_azimuth = values("E_azi").reshape(shape)
            ds.e_elevation = values("E_elev").reshape(shape)
            ds.directivity_dbi = float(values("directivity_dBi")[0])
            ds.efficiency = float(values("efficiency")[0])
            ds.azimuth = values("azimuth")
            ds.elevation = values("elevation")
    return ds


def write_dataset(path, frequencies, s, radiation=None) -> None:
    """Write a dataset in the simulator's layout (for tests and synthetic data).

    ``s`` holds one complex row per port.  ``radiation``, when given, is a dict
    with keys pattern, e_azimuth, e_elevation (shaped elevations × azimuths),
    directivity_dbi, efficiency, azimuth, elevation.
    """
    frequencies = np.asarray(frequencies, dtype=np.float64)
    s = np.atleast_2d(np.asarray(s, dtype=np.complex128))
    n = len(frequencies)
    recs = []  # (flags, count, name, deps, values)
    for k in range(s.shape[0]):
        recs.append((3, n, coefficient_name(k), "frequency", s[k]))
    if radiation is not None:
        az = np.asarray(radiation["azimuth"], dtype=np.float64)
        el = np.asarray(radiation["elevation"], dtype=np.float64)
        cnt = len(az) * len(el)
        recs += [
            (7, cnt, "radiation", "azimuth elevation", np.ravel(radiation["pattern"])),
            (3, cnt, "E_azi", "azimuth elevation", np.ravel(radiation["e_azimuth"])),
            (3, cnt, "E_elev", "azimuth elevation", np.ravel(radiation["e_elevation"])),
            (5, 1, "directivity_dBi", None, [radiation["directivity_dbi"]]),
            (5, 1, "efficiency", None, [radiation["efficiency"]]),
            (5, len(az), "azimuth", None, az),
            (5, len(el), "elevation", None, el),
        ]
    recs.append((5, n, "frequency", None, frequencies))
    header = b""
    for flags, count, name, deps, _ in recs:
        header += struct.pack("<II", flags, count) + name.encode() + b"\0"
        if deps is not None:
            header += deps.encode() + b"\0"
    body = b""
    for flags, _, _, _, vals in recs:
        if flags & FLAG_REAL:
            body += np.asarray(vals, dtype="<f8").tobytes()
        else:
            c = np.asarray(vals, dtype=np.complex128)
            body += np.column_stack([c.real, c.imag]).astype("<f8").tobytes()
    with open(path, "wb") as f:
        f.write(MAGIC + struct.pack("<II", VERSION, len(header)) + header + body)
