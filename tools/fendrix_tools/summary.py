"""Readable report of a results dataset."""

from __future__ import annotations

import numpy as np

from .dataset import Dataset


def db(x) -> np.ndarray:
    with np.errstate(divide="ignore"):
        return 20.0 * np.log10(np.abs(x))


def bandwidth_10db(freqs: np.ndarray, s11_db: np.ndarray, best: int):
    """Frequencies where |S11| crosses -10 dB on both sides of ``best``.

    Returns (low, high, low_at_edge, high_at_edge) with linear interpolation
    of the crossings in dB, or None when S11 never reaches -10 dB.
    """
    if not s11_db[best] <= -10.0:
        return None
    lo = best
    while lo > 0 and s11_db[lo - 1] <= -10.0:
        lo -= 1
    hi = best
    while hi < len(freqs) - 1 and s11_db[hi + 1] <= -10.0:
        hi += 1

    def cross(i_out, i_in):
        a, b = s11_db[i_out], s11_db[i_in]
        t = (-10.0 - a) / (b - a) if b != a else 0.0
        return freqs[i_out] + t * (freqs[i_in] - freqs[i_out])

    f_lo = cross(lo - 1, lo) if lo > 0 else freqs[lo]
    f_hi = cross(hi + 1, hi) if hi < len(freqs) - 1 else freqs[hi]
    return f_lo, f_hi, lo == 0, hi == len(freqs) - 1


def main_direction(ds: Dataset):
    """(azimuth, elevation, dBi) of the pattern's maximum."""
    e, a = np.unravel_index(np.nanargmax(ds.pattern), ds.pattern.shape)
    return float(ds.azimuth[a]), float(ds.elevation[e]), float(10 * np.log10(ds.pattern[e, a]))


def _ghz(f):
    return f"{f / 1e9:.4g} GHz"


def summarize(ds: Dataset, points: int = 5) -> str:
    f = ds.frequencies
    n = ds.port_count
    lines = [f"Dataset: {ds.path}"]
    names = ", ".join(f"S{k + 1}1" for k in range(n))
    lines.append(f"Ports: {n} (port 1 excited; {names})")
    if len(f) == 0:
        lines.append("Band: no frequencies")
    else:
        step = f"{(f[1] - f[0]) / 1e6:.4g} MHz steps" if len(f) > 1 else "single point"
        lines.append(f"Band: {_ghz(f[0])} to {_ghz(f[-1])}, {len(f)} points ({step})")
        idx = sorted(set(np.linspace(0, len(f) - 1, min(points, len(f))).round().astype(int)))
        mag = db(ds.s)
        lines.append("")
        lines.append("|Sk1| in dB:")
        lines.append("  " + f"{'f / GHz':>10}" + "".join(f"{'S%d1' % (k + 1):>10}" for k in range(n)))
        for i in idx:
            # round first so that a tiny negative value does not print as -0.00
            lines.append("  " + f"{f[i] / 1e9:>10.4g}"
                         + "".join(f"{round(mag[k, i], 2) + 0.0:>10.2f}" for k in range(n)))
        lines.append("")
        s11 = mag[0]
        if np.all(np.isnan(s11)):
            lines.append("Best match: S11 is not a number at every frequency")
        else:
            best = int(np.nanargmin(s11))
            lines.append(f"Best match: S11 = {s11[best]:.2f} dB at {_ghz(f[best])}")
            bw = bandwidth_10db(f, s11, best)
            if bw is None:
                lines.append("-10 dB bandwidth: none (S11 stays above -10 dB)")
            else:
                f_lo, f_hi, at_lo, at_hi = bw
                edge = []
                if at_lo:
                    edge.append("lower")
                if at_hi:
                    edge.append("upper")
                note = f" (reaches the {' and '.join(edge)} band edge)" if edge else ""
                centre = 0.5 * (f_lo + f_hi)
                rel = f", {100 * (f_hi - f_lo) / centre:.1f} %" if centre > 0 else ""
                lines.append(f"-10 dB bandwidth: {_ghz(f_lo)} to {_ghz(f_hi)} "
                             f"({(f_hi - f_lo) / 1e6:.4g} MHz{rel}){note}")
    if ds.has_radiation:
        lines.append("")
        lines.append(f"Far field: {len(ds.azimuth)} azimuths x {len(ds.elevation)} elevations")
        lines.append(f"Max. directivity: {ds.directivity_dbi:.2f} dBi")
        lines.append(f"Efficiency: {ds.efficiency:.1f} %")
        if np.any(np.isfinite(ds.pattern)):
            az, el, d = main_direction(ds)
            lines.append(f"Main direction: azimuth {az:.1f} deg, elevation {el:.1f} deg "
                         f"({d:.2f} dBi)")
    return "\n".join(lines) + "\n"
