"""Readable report of a results dataset."""

from __future__ import annotations

import numpy as np

from .circuit import band_around, column_warning, input_impedance, insertion_loss, stop_band
from .dataset import Dataset


def db(x) -> np.ndarray:
    with np.errstate(divide="ignore"):
        return 20.0 * np.log10(np.abs(x))


def bandwidth_10db(freqs: np.ndarray, s11_db: np.ndarray, best: int):
    """Frequencies where |S11| crosses -10 dB on both sides of ``best``.

    Returns (low, high, low_at_edge, high_at_edge) with linear interpolation
    of the crossings in dB, or None when S11 never reaches -10 dB.
    """
    return band_around(freqs, s11_db, best, -10.0, below=True)


def _band_text(band, what):
    """'1 GHz to 2 GHz (1000 MHz)', noting a band edge that cuts it short."""
    f_lo, f_hi, at_lo, at_hi = band
    edge = [name for name, hit in (("lower", at_lo), ("upper", at_hi)) if hit]
    note = f" (reaches the {' and '.join(edge)} band edge)" if edge else ""
    return f"{what}: {_ghz(f_lo)} to {_ghz(f_hi)} ({(f_hi - f_lo) / 1e6:.4g} MHz){note}"


def circuit_lines(ds: Dataset, mag, at=None, z0=50.0, stop_level=-20.0) -> list:
    """|S21| minimum and stop band, insertion loss and its band, and the input
    impedance and VSWR of port 1 at the frequencies ``at`` (Hz; default: the
    best match of S11)."""
    f = ds.frequencies
    lines = []
    if ds.port_count >= 2 and not np.all(np.isnan(mag[1])):
        low, band = stop_band(f, mag[1], stop_level)
        if band:
            lines.append(f"|S21| minimum: {mag[1][low]:.2f} dB at {_ghz(f[low])}")
            lines.append(_band_text(band, f"Stop band (|S21| <= {stop_level:g} dB)"))
        else:  # a line or a pass-band structure: notch and stop band do not apply
            lines.append(f"No stop band (|S21| stays above {stop_level:g} dB): no notch or "
                         f"stop-band items")
        best, band = insertion_loss(f, mag[1])
        lines.append(f"Insertion loss: {round(-mag[1][best], 2) + 0.0:.2f} dB (least, at {_ghz(f[best])})")
        lines.append(_band_text(band, "Pass band (loss within 3 dB of that)"))
    if at is None:
        at = [] if np.all(np.isnan(mag[0])) else [f[int(np.nanargmin(mag[0]))]]
    if len(at):
        lines.append(f"Input impedance of port 1 (referred to {z0:g} ohm):")
        lines.append("  " + f"{'f / GHz':>10}{'Re Z / ohm':>13}{'Im Z / ohm':>13}{'VSWR':>9}")
        for freq, z, vswr in input_impedance(f, ds.s[0], at, z0):
            if z is None:
                lines.append("  " + f"{freq / 1e9:>10.4g}  outside the band")
            else:
                lines.append("  " + f"{freq / 1e9:>10.4g}{z.real:>13.2f}{z.imag:>13.2f}{vswr:>9.3g}")
    warning = column_warning(ds.s, f)
    if warning:
        lines.append(warning)
    return lines


def main_direction(ds: Dataset):
    """(azimuth, elevation, dBi) of the pattern's maximum."""
    e, a = np.unravel_index(np.nanargmax(ds.pattern), ds.pattern.shape)
    return float(ds.azimuth[a]), float(ds.elevation[e]), float(10 * np.log10(ds.pattern[e, a]))


def pattern_integral(ds: Dataset) -> float:
    """The closed integral of the linear directivity over the sphere / 4 pi,
    1 for a pattern that holds all the radiated power.  Elevation runs from
    the x-y plane towards +z, so a point stands for the band of solid angle
    between the sines of its neighbouring midpoints; azimuth is weighted by
    the trapezoid rule (the two ends of -180..180 share one direction)."""
    el, az = np.radians(ds.elevation), np.radians(ds.azimuth)
    edges = np.concatenate(([el[0]], (el[1:] + el[:-1]) / 2, [el[-1]]))
    w_el = np.diff(np.sin(edges))
    w_az = np.zeros(len(az))
    w_az[:-1] += np.diff(az) / 2
    w_az[1:] += np.diff(az) / 2
    return float(np.nansum(ds.pattern * w_el[:, None] * w_az[None, :]) / (4 * np.pi))


def far_field_frequency(dataset_path, description=None):
    """The Radiation line's frequency (Hz) of the description beside a
    dataset (same name, .txt, naming this dataset on its Sim line), or of
    ``description``; None where there is none (the dataset does not hold it)."""
    from pathlib import Path

    path = Path(description) if description else Path(dataset_path).with_suffix(".txt")
    try:
        lines = path.read_bytes().decode("latin-1").split("\n")
    except OSError:
        return None
    head = [x for x in lines if x and not x.startswith("#")][:3]
    if (len(head) < 3 or not head[0].startswith("Sim ") or (description is None and Path(
            head[0].split(" ", 4)[-1].strip()).name != Path(dataset_path).name)):
        return None
    for x in head[1:]:
        if x.startswith("Radiation "):
            try:
                return float(x.split()[1])
            except (IndexError, ValueError):
                return None
    return None


def _ghz(f):
    return f"{f / 1e9:.4g} GHz"


def summarize(ds: Dataset, points: int = 5, at=None, z0: float = 50.0,
              stop_level: float = -20.0, far_frequency=None, table=None) -> str:
    """Readable report.  ``table`` (a FarFieldTable of the run, see
    farfield.py) gives the far-field frequency of this file and adds the
    figures at every far-field frequency of the run."""
    if table is not None and table.row_of(ds.path) is not None:
        far_frequency = float(table.frequencies[table.row_of(ds.path)])
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
        lines.extend(circuit_lines(ds, mag, at, z0, stop_level))
    if ds.has_radiation:
        lines.append("")
        at = (f"at {_ghz(far_frequency)}" if far_frequency else
              "at the Radiation line's frequency (give the description with --description)")
        lines.append(f"Far field {at}: {len(ds.azimuth)} azimuths x {len(ds.elevation)} "
                     f"elevations")
        lines.append(f"Max. directivity: {ds.directivity_dbi:.2f} dBi"
                     + (f" at {_ghz(far_frequency)}" if far_frequency else ""))
        lines.append(f"Efficiency: {ds.efficiency:.1f} %")
        if np.any(np.isfinite(ds.pattern)):
            az, el, d = main_direction(ds)
            lines.append(f"Main direction: azimuth {az:.1f} deg, elevation {el:.1f} deg "
                         f"({d:.2f} dBi)")
            total = pattern_integral(ds)
            lines.append(f"Pattern integral (closed integral of D over 4 pi): {total:.3f}")
            if not 0.95 <= total <= 1.05:
                lines.append(f"WARNING: the pattern integrates to {total:.3f}, not 1: the angular "
                             f"grid misses lobes (more azimuths and elevations on the Radiation "
                             f"line) or the absorbing faces reflect (run fendrix with --pml, or "
                             f"give more air)")
    if table is not None:
        from .farfield import table_lines

        lines.append("")
        lines.extend(table_lines(table))
    return "\n".join(lines) + "\n"
