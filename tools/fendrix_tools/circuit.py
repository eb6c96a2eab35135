"""What circuit designers read off S-parameters: stop band, insertion loss,
input impedance and VSWR, and whether a result can be passive at all."""

from __future__ import annotations

import numpy as np

# A passive structure gives |S| <= 1; the grid's dispersion, the absorbing
# faces and a finite run leave a few thousandths above that on sound results.
PASSIVITY_TOLERANCE = 0.01


def band_around(freqs, values, centre: int, level: float, below: bool = True):
    """The frequencies where ``values`` crosses ``level`` on both sides of
    index ``centre``, inside meaning at or below the level (``below``) or at or
    above it.  Crossings are interpolated linearly.  Returns (low, high,
    low_at_edge, high_at_edge), or None when ``centre`` itself is outside."""
    def inside(i):
        return values[i] <= level if below else values[i] >= level

    if not inside(centre):
        return None
    lo = hi = centre
    while lo > 0 and inside(lo - 1):
        lo -= 1
    while hi < len(freqs) - 1 and inside(hi + 1):
        hi += 1

    def cross(i_out, i_in):
        a, b = values[i_out], values[i_in]
        t = (level - a) / (b - a) if b != a else 0.0
        return freqs[i_out] + t * (freqs[i_in] - freqs[i_out])

    f_lo = cross(lo - 1, lo) if lo > 0 else freqs[lo]
    f_hi = cross(hi + 1, hi) if hi < len(freqs) - 1 else freqs[hi]
    return f_lo, f_hi, lo == 0, hi == len(freqs) - 1


def stop_band(freqs, s21_db, level: float = -20.0):
    """(index of the |S21| minimum, band around it at or below ``level`` dB or None)."""
    best = int(np.nanargmin(s21_db))
    return best, band_around(freqs, s21_db, best, level, below=True)


def insertion_loss(freqs, s21_db, window: float = 3.0):
    """(index of the least loss, band around it where the loss stays within
    ``window`` dB of that least loss)."""
    best = int(np.nanargmax(s21_db))
    return best, band_around(freqs, s21_db, best, s21_db[best] - window, below=False)


def input_impedance(freqs, s11, at, z0: float = 50.0):
    """Z = z0 (1 + S11) / (1 - S11) and VSWR at the frequencies ``at`` (Hz),
    S11 interpolated linearly in its real and imaginary parts.  Frequencies
    outside the band give None."""
    rows = []
    for f in at:
        if not freqs[0] <= f <= freqs[-1]:
            rows.append((f, None, None))
            continue
        s = np.interp(f, freqs, s11.real) + 1j * np.interp(f, freqs, s11.imag)
        z = z0 * (1 + s) / (1 - s) if s != 1 else complex(np.inf)
        m = abs(s)
        rows.append((f, z, (1 + m) / (1 - m) if m < 1 else np.inf))
    return rows


def column_excess(s, tol: float = PASSIVITY_TOLERANCE):
    """For the column S[k, f] = Sk1 of one run: (norm, frequency index) where
    sqrt(sum |Sk1|^2), at most 1 for a passive structure, is largest, when it
    exceeds 1 + tol; else None."""
    norm = np.sqrt(np.nansum(np.abs(s) ** 2, axis=0))
    if norm.size == 0:
        return None
    i = int(np.nanargmax(norm))
    return (float(norm[i]), i) if norm[i] > 1 + tol else None


def matrix_excess(s, tol: float = PASSIVITY_TOLERANCE):
    """For a matrix S[f, i, j]: (largest singular value, frequency index) when it
    exceeds 1 + tol; else None.  A passive network has none above 1."""
    finite = np.where(np.isfinite(s), s, 0)
    sigma = np.linalg.svd(finite, compute_uv=False)[:, 0]
    i = int(np.argmax(sigma))
    return (float(sigma[i]), i) if sigma[i] > 1 + tol else None


HINT = ("look for a port of zero length or along the wrong axis, ports that are not what you "
        "meant, or a run that was cut short")


def column_warning(s, freqs):
    """A warning line when a dataset's |Sk1| cannot come from a passive structure."""
    found = column_excess(s)
    if found is None:
        return None
    norm, i = found
    k = int(np.nanargmax(np.abs(s[:, i])))
    peak = 20 * np.log10(abs(s[k, i]))
    return (f"WARNING: not passive: sqrt(sum |Sk1|^2) = {norm:.3f} at {freqs[i] / 1e9:.4g} GHz "
            f"(|S{k + 1}1| = {peak:+.2f} dB), where a passive structure gives at most 1: {HINT}.")


def matrix_warning(s, freqs):
    """A warning line when an S-matrix has a singular value above 1."""
    found = matrix_excess(s)
    if found is None:
        return None
    sigma, i = found
    return (f"WARNING: not passive: the S-matrix's largest singular value is {sigma:.3f} at "
            f"{freqs[i] / 1e9:.4g} GHz, where a passive structure gives at most 1: {HINT}.")
