"""PNG figures of a results dataset (and of Touchstone files)."""

from __future__ import annotations

import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

from .circuit import column_warning, matrix_warning  # noqa: E402
from .dataset import Dataset  # noqa: E402
from .summary import db  # noqa: E402

DYNAMIC_RANGE_DB = 40.0


class TouchstoneError(ValueError):
    """A file named .sNp that scikit-rf cannot read."""


def _warn(message):
    if message:
        print(message, file=sys.stderr)


def _save(fig, path):
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


def plot_s_db(ds: Dataset, path):
    fig, ax = plt.subplots(figsize=(7, 4.5))
    f = ds.frequencies / 1e9
    for k in range(ds.port_count):
        ax.plot(f, db(ds.s[k]), label=f"|S{k + 1}1|")
    ax.axhline(-10, color="grey", lw=0.8, ls="--")
    ax.set_xlabel("Frequency / GHz")
    ax.set_ylabel("Magnitude / dB")
    ax.set_title("Scattering parameters (port 1 excited)")
    ax.grid(True, alpha=0.4)
    ax.legend()
    fig.tight_layout()
    return _save(fig, path)


def _smith_grid(ax):
    """Constant-resistance circles and constant-reactance arcs of the Smith chart."""
    t = np.linspace(0, 2 * np.pi, 400)
    ax.plot(np.cos(t), np.sin(t), color="black", lw=1.0)
    ax.plot([-1, 1], [0, 0], color="grey", lw=0.6)
    for r in (0.2, 0.5, 1.0, 2.0, 5.0):
        c, rad = r / (1 + r), 1 / (1 + r)
        ax.plot(c + rad * np.cos(t), rad * np.sin(t), color="grey", lw=0.6)
        ax.text(c - rad + 0.01, 0.015, f"{r:g}", fontsize=7, color="dimgrey")
    for x in (0.2, 0.5, 1.0, 2.0, 5.0):
        for sx in (x, -x):
            pts = 1 / sx * np.exp(1j * t) + (1 + 1j / sx)  # circle centre (1, 1/x), radius 1/|x|
            inside = np.abs(pts) <= 1.0 + 1e-9
            seg = np.where(inside, pts, np.nan)
            ax.plot(seg.real, seg.imag, color="grey", lw=0.6)
        g = (1j * x - 1) / (1j * x + 1)
        ax.text(g.real * 1.06, g.imag * 1.06, f"{x:g}j", fontsize=7, color="dimgrey",
                ha="center", va="center")
        ax.text(g.real * 1.06, -g.imag * 1.06, f"-{x:g}j", fontsize=7, color="dimgrey",
                ha="center", va="center")
    ax.set_xlim(-1.12, 1.12)
    ax.set_ylim(-1.12, 1.12)
    ax.set_aspect("equal")
    ax.axis("off")


def plot_smith(ds: Dataset, path):
    fig, ax = plt.subplots(figsize=(6, 6))
    _smith_grid(ax)
    s11 = ds.s[0]
    ax.plot(s11.real, s11.imag, color="tab:blue", lw=1.6, label="S11")
    if len(s11):
        f = ds.frequencies
        ax.plot(s11.real[0], s11.imag[0], "o", color="tab:green", label=f"{f[0] / 1e9:.4g} GHz")
        ax.plot(s11.real[-1], s11.imag[-1], "s", color="tab:red", label=f"{f[-1] / 1e9:.4g} GHz")
    ax.set_title("S11 on the Smith chart (normalised to the port impedance)")
    ax.legend(loc="lower right", fontsize=8)
    fig.tight_layout()
    return _save(fig, path)


def _nearest(values, target):
    return int(np.argmin(np.abs(np.asarray(values) - target)))


def principal_cuts(ds: Dataset, cut_azimuth: float = 0.0):
    """The two principal cuts in dBi.

    Returns ((azimuth angles deg, dBi) in the horizontal plane, elevation 0;
    (angles deg, dBi) in the vertical plane through ``cut_azimuth``), where
    the vertical angle is 0 towards the horizon at ``cut_azimuth``, 90 towards
    +z and 180 towards the horizon at the opposite azimuth.
    """
    d = ds.pattern_dbi()
    e0 = _nearest(ds.elevation, 0.0)
    horizontal = (np.asarray(ds.azimuth), d[e0, :])
    opposite = cut_azimuth + 180.0 if cut_azimuth <= 0 else cut_azimuth - 180.0
    a_front = _nearest(ds.azimuth, cut_azimuth)
    a_back = _nearest(ds.azimuth, opposite)
    el = np.asarray(ds.elevation)
    ang = np.concatenate([el, 180.0 - el[::-1]])
    val = np.concatenate([d[:, a_front], d[::-1, a_back]])
    return horizontal, (ang, val)


def plot_cuts(ds: Dataset, path, cut_azimuth: float = 0.0):
    (az, dh), (ang, dv) = principal_cuts(ds, cut_azimuth)
    top = np.nanmax(ds.pattern_dbi())
    top = np.ceil(top / 5.0) * 5.0 if np.isfinite(top) else 10.0
    floor = top - DYNAMIC_RANGE_DB
    fig, axes = plt.subplots(1, 2, figsize=(11, 5.4), subplot_kw={"projection": "polar"})
    for ax, theta, vals, title in (
        (axes[0], az, dh, "Horizontal cut (elevation 0°)\nangle = azimuth, 0° = +x"),
        (axes[1], ang, dv, f"Vertical cut (azimuth {cut_azimuth:g}° / {cut_azimuth + 180:g}°)\n"
                           f"angle = elevation, 0° = horizon at {cut_azimuth:g}°, 90° = +z"),
    ):
        ax.plot(np.radians(theta), np.clip(vals, floor, None), color="tab:blue", lw=1.6)
        ax.set_rlim(floor, top)
        ax.set_rlabel_position(100)
        ax.set_title(title, fontsize=10, pad=14)
        ax.grid(True, alpha=0.5)
    fig.suptitle(f"Directivity / dBi (max. {ds.directivity_dbi:.2f} dBi)")
    fig.tight_layout()
    return _save(fig, path)


def plot_directivity_map(ds: Dataset, path):
    d = ds.pattern_dbi()
    top = np.nanmax(d)
    fig, ax = plt.subplots(figsize=(9, 4.8))
    mesh = ax.pcolormesh(ds.azimuth, ds.elevation, d, shading="nearest", cmap="viridis",
                         vmin=top - DYNAMIC_RANGE_DB, vmax=top)
    fig.colorbar(mesh, ax=ax, label="Directivity / dBi")
    e, a = np.unravel_index(np.nanargmax(ds.pattern), ds.pattern.shape)
    ax.plot(ds.azimuth[a], ds.elevation[e], "x", color="red", ms=10, mew=2)
    ax.annotate(f"{d[e, a]:.2f} dBi", (ds.azimuth[a], ds.elevation[e]), color="red",
                xytext=(8, 8), textcoords="offset points")
    ax.set_xlabel("Azimuth / deg")
    ax.set_ylabel("Elevation / deg")
    ax.set_xticks(np.arange(-180, 181, 45))
    ax.set_yticks(np.arange(-90, 91, 30))
    ax.set_title("Directivity over azimuth and elevation")
    fig.tight_layout()
    return _save(fig, path)


def plot_dataset(ds: Dataset, outdir=".", stem=None, cut_azimuth: float = 0.0) -> list:
    """Write every figure that the dataset supports; return the paths."""
    stem = stem or os.path.splitext(os.path.basename(ds.path))[0]
    os.makedirs(outdir, exist_ok=True)
    base = os.path.join(outdir, stem)
    paths = []
    if len(ds.frequencies):
        _warn(column_warning(ds.s, ds.frequencies))
        paths.append(plot_s_db(ds, base + "_s.png"))
        paths.append(plot_smith(ds, base + "_smith.png"))
    if ds.has_radiation and not np.any(np.isfinite(ds.pattern)):
        _warn(f"WARNING: {ds.path}: the far-field pattern holds no finite value "
              "(an unstable or broken run); no pattern figures")
    elif ds.has_radiation:
        paths.append(plot_cuts(ds, base + "_cuts.png", cut_azimuth))
        paths.append(plot_directivity_map(ds, base + "_directivity.png"))
    return paths


def plot_touchstone(path, outdir=".", stem=None) -> list:
    """|Sij| in dB of every matrix entry, and the Sii on a Smith chart."""
    try:
        import skrf
    except ImportError:  # an optional dependency: only this drawing needs it
        raise TouchstoneError(f"{path}: drawing a Touchstone file needs scikit-rf; install it "
                              f"with: pip install 'fendrix[rf]' (or: pip install scikit-rf)"
                              ) from None

    if os.path.getsize(path) == 0:  # scikit-rf would take it for a pickled network
        raise TouchstoneError(f"{path}: empty file, not a Touchstone file")
    try:
        net = skrf.Network(str(path))
    except OSError:
        raise
    except Exception as e:  # the library's parser fails in many ways on a foreign file
        raise TouchstoneError(f"{path}: not a readable Touchstone file ({type(e).__name__}: "
                              f"{e})") from None
    if net.nports < 1 or len(net.f) == 0:
        raise TouchstoneError(f"{path}: a Touchstone file without ports or frequencies")
    stem = stem or os.path.splitext(os.path.basename(str(path)))[0]
    os.makedirs(outdir, exist_ok=True)
    base = os.path.join(outdir, stem)
    _warn(matrix_warning(net.s, net.f))
    f = net.f / 1e9
    n = net.nports
    fig, ax = plt.subplots(figsize=(7, 4.5))
    for i in range(n):
        for j in range(n):
            ax.plot(f, db(net.s[:, i, j]), label=f"|S{i + 1}{j + 1}|",
                    ls="-" if i == j else "--")
    ax.axhline(-10, color="grey", lw=0.8, ls=":")
    ax.set_xlabel("Frequency / GHz")
    ax.set_ylabel("Magnitude / dB")
    ax.set_title(f"{n}-port S-matrix, {float(np.real(net.z0[0, 0])):g} ohm")
    ax.grid(True, alpha=0.4)
    ax.legend(fontsize=8, ncol=max(1, n // 2))
    fig.tight_layout()
    p1 = _save(fig, base + "_matrix.png")
    fig, ax = plt.subplots(figsize=(6, 6))
    _smith_grid(ax)
    for i in range(n):
        ax.plot(net.s[:, i, i].real, net.s[:, i, i].imag, lw=1.5, label=f"S{i + 1}{i + 1}")
    ax.legend(loc="lower right", fontsize=8)
    ax.set_title("Reflections on the Smith chart")
    fig.tight_layout()
    p2 = _save(fig, base + "_matrix_smith.png")
    return [p1, p2]


def plot_gain(table, path):
    """Maximum directivity, gain and realized gain against frequency."""
    f = table.frequencies / 1e9
    fig, ax = plt.subplots(figsize=(7, 4.5))
    ax.plot(f, table.directivity_dBi, "o--", color="grey", lw=1.0, ms=3, label="Directivity (max.)")
    ax.plot(f, table.gain_dBi, "o-", color="tab:blue", lw=1.6, ms=4, label="Gain")
    ax.plot(f, table.realized_gain_dBi, "s-", color="tab:red", lw=1.6, ms=4, label="Realized gain")
    ax.set_xlabel("Frequency / GHz")
    ax.set_ylabel("dBi")
    finite = np.concatenate([v[np.isfinite(v)] for v in (table.directivity_dBi, table.realized_gain_dBi)])
    if len(finite):
        top = np.ceil(finite.max() + 1)
        ax.set_ylim(max(finite.min() - 1, top - 30), top)
    ax.set_title("Gain in the direction of maximum radiation")
    ax.grid(True, alpha=0.4)
    ax.legend()
    fig.tight_layout()
    return _save(fig, path)


def plot_squint(table, path):
    """Direction of the maximum (polar angle from +z and azimuth) against frequency."""
    f = table.frequencies / 1e9
    fig, (a1, a2) = plt.subplots(2, 1, figsize=(7, 5.5), sharex=True)
    a1.plot(f, table.theta_deg, "o-", color="tab:blue")
    a1.set_ylabel("theta / deg\n(from +z)")
    a2.plot(f, table.phi_deg, "o-", color="tab:green")
    a2.set_ylabel("phi / deg\n(from +x)")
    a2.set_xlabel("Frequency / GHz")
    for ax in (a1, a2):
        ax.grid(True, alpha=0.4)
    a1.set_title("Beam direction (maximum directivity) against frequency")
    fig.tight_layout()
    return _save(fig, path)


def plot_patterns(table, frequencies, path):
    """The vertical cuts phi = 0 and phi = 90 at the table's frequencies
    nearest ``frequencies`` (Hz), overlaid."""
    from .dataset import read_dataset

    rows = sorted({table.nearest(f) for f in frequencies})
    for f in frequencies:
        near = table.frequencies[table.nearest(f)]
        # A frequency far from every row is most likely a unit slip: say which row stands in.
        if abs(near - f) > 0.01 * f:
            print(f"warning: no far-field file near {f / 1e9:g} GHz; the patterns show the nearest, "
                  f"{near / 1e9:g} GHz", file=sys.stderr)
    cuts = {i: [principal_cuts(read_dataset(table.dataset_path(i)), cut)[1] for cut in (0.0, 90.0)]
            for i in rows}
    top = max((np.nanmax(dv) for pair in cuts.values() for _, dv in pair), default=np.nan)
    top = np.ceil(top / 5.0) * 5.0 if np.isfinite(top) else 10.0
    fig, axes = plt.subplots(1, 2, figsize=(11, 5.4), subplot_kw={"projection": "polar"})
    for i in rows:
        label = f"{table.frequencies[i] / 1e9:.4g} GHz"
        for ax, (ang, dv) in zip(axes, cuts[i]):
            ax.plot(np.radians(ang), np.clip(dv, top - DYNAMIC_RANGE_DB, None), lw=1.4, label=label)
    for ax, cut in zip(axes, (0.0, 90.0)):
        ax.set_rlim(top - DYNAMIC_RANGE_DB, top)
        ax.set_rlabel_position(100)
        ax.set_title(f"Vertical cut phi = {cut:g}° / {cut + 180:g}°\n0° = horizon at phi = {cut:g}°, "
                     f"90° = +z", fontsize=10, pad=14)
        ax.grid(True, alpha=0.5)
    axes[1].legend(loc="lower left", bbox_to_anchor=(0.9, -0.05), fontsize=8)
    fig.suptitle("Directivity / dBi at several frequencies")
    fig.tight_layout()
    return _save(fig, path)


def plot_far_field_table(table, outdir=".", frequencies=None, stem=None) -> list:
    """Gain and beam-direction figures of a far-field table, and the patterns
    at ``frequencies`` (Hz) when given; return the paths."""
    stem = stem or os.path.splitext(os.path.basename(table.path))[0]
    os.makedirs(outdir, exist_ok=True)
    base = os.path.join(outdir, stem)
    paths = [plot_gain(table, base + "_gain.png"), plot_squint(table, base + "_squint.png")]
    if frequencies:
        paths.append(plot_patterns(table, frequencies, base + "_patterns.png"))
    return paths
