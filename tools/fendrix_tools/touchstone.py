"""Touchstone (version 1) writer and reference-impedance renormalisation.

A version 1 file has one reference impedance for all ports, given on the
option line "# Hz S RI R 50".  The data block of each frequency starts with
the frequency; its order depends on the port count:

  1 port:   f S11
  2 ports:  f S11 S21 S12 S22            (one line, column-major: special case)
  n >= 3:   f S11 S12 ... S1n            (row-major, every matrix row starts on a
              S21 S22 ... S2n             new line, at most 4 pairs per line,
              ...                         continuation lines without frequency)
"""

from __future__ import annotations

import numpy as np

FORMATS = ("RI", "MA")


def renormalize(s: np.ndarray, z_from, z_to) -> np.ndarray:
    """Refer an S-matrix to new real reference impedances.

    ``s`` has shape (frequencies, n, n); ``z_from`` and ``z_to`` are the old and
    new per-port real impedances (scalars or length-n).  With a = (V + Z I)/(2 sqrt Z)
    and b = (V - Z I)/(2 sqrt Z) the new waves are a' = P a + Q b and b' = Q a + P b,
    with P = (Z + Z')/(2 sqrt(Z Z')) and Q = (Z - Z')/(2 sqrt(Z Z')), so
    S' = (Q + P S)(P + Q S)^-1.
    """
    s = np.asarray(s, dtype=np.complex128)
    n = s.shape[-1]
    z1 = np.broadcast_to(np.asarray(z_from, dtype=np.float64), (n,))
    z2 = np.broadcast_to(np.asarray(z_to, dtype=np.float64), (n,))
    root = 2.0 * np.sqrt(z1 * z2)
    p = np.diag((z1 + z2) / root)
    q = np.diag((z1 - z2) / root)
    out = np.empty_like(s)
    for i in range(s.shape[0]):
        out[i] = (q + p @ s[i]) @ np.linalg.inv(p + q @ s[i])
    return out


def _pair(value: complex, fmt: str) -> str:
    if fmt == "RI":
        return f"{value.real: .12e} {value.imag: .12e}"
    mag = abs(value)
    ang = np.degrees(np.angle(value))
    return f"{mag: .12e} {ang: .8f}"


def _ordered_rows(m: np.ndarray) -> list:
    """Lines of values (lists of complex) for one frequency, in file order."""
    n = m.shape[0]
    if n == 1:
        return [[m[0, 0]]]
    if n == 2:
        return [[m[0, 0], m[1, 0], m[0, 1], m[1, 1]]]
    lines = []
    for i in range(n):
        row = list(m[i, :])
        for start in range(0, n, 4):
            lines.append(row[start:start + 4])
    return lines


def write_touchstone(path, frequencies, s, z0: float, fmt: str = "RI", comments=()) -> None:
    """Write a version 1 Touchstone file.

    ``frequencies`` in Hz; ``s`` of shape (frequencies, n, n) with S[f, i, j]
    the wave leaving port i+1 for a wave incident at port j+1, all referred to
    the single real impedance ``z0``.  ``fmt`` is "RI" (real, imaginary) or
    "MA" (magnitude, angle in degrees).  ``comments`` are written as "!" lines.
    """
    fmt = fmt.upper()
    if fmt not in FORMATS:
        raise ValueError(f"unknown Touchstone format '{fmt}' (use RI or MA)")
    s = np.asarray(s, dtype=np.complex128)
    freqs = np.asarray(frequencies, dtype=np.float64)
    if s.ndim != 3 or s.shape[1] != s.shape[2] or s.shape[0] != len(freqs):
        raise ValueError("S must have shape (frequencies, ports, ports)")
    if not z0 > 0:
        raise ValueError(f"reference impedance must be positive, not {z0}")
    n = s.shape[1]
    out = []
    for c in comments:
        for line in str(c).splitlines() or [""]:
            out.append("! " + line if line else "!")
    out.append(f"# Hz S {fmt} R {z0:.12g}")
    if n == 2:
        out.append("! freq  S11  S21  S12  S22")
    elif n >= 3:
        out.append("! freq  one matrix row per line (rows wrap after 4 values)")
    for f, m in zip(freqs, s):
        lines = _ordered_rows(m)
        for k, vals in enumerate(lines):
            lead = f"{f:.12e}" if k == 0 else " " * len(f"{f:.12e}")
            out.append(lead + "  " + "  ".join(_pair(v, fmt) for v in vals))
    with open(path, "w", newline="\n") as fh:
        fh.write("\n".join(out) + "\n")


def touchstone_suffix(ports: int) -> str:
    return f".s{ports}p"
