"""Field views written by `fendrix --snapshot-... / --map-...`: read the VTK
rectilinear grids (.vtr, raw appended data) and collections (.pvd), and draw
quick pictures of them: PNG frames and an animated GIF of a plane series, a PNG
per frequency of a map."""

from __future__ import annotations

import os
import re
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

_TYPES = {"Float32": "<f4", "Float64": "<f8", "UInt8": "u1", "Int32": "<i4", "UInt32": "<u4"}
_MARK = b'<AppendedData encoding="raw">'


class ViewError(ValueError):
    pass


@dataclass
class Grid:
    """One .vtr file: node coordinates per axis (metres), point arrays shaped
    (nz, ny, nx[, components]), and the file's time (s) or frequency (Hz)."""

    path: str
    coords: list = field(default_factory=list)
    arrays: dict = field(default_factory=dict)
    label: str = ""
    value: float = 0.0

    @property
    def normal_axis(self):
        """The axis along which the grid is one node thick (a plane), else None."""
        flat = [a for a in range(3) if len(self.coords[a]) == 1]
        return flat[0] if len(flat) == 1 else None

    def plane(self, name):
        """An array on the plane as (rows, columns, ...): rows along the second
        in-plane axis, columns along the first (x before y before z)."""
        axis = self.normal_axis
        if axis is None:
            raise ViewError(f"{self.path}: not a plane")
        return np.take(self.arrays[name], 0, axis=2 - axis)


def read_vtr(path) -> Grid:
    with open(path, "rb") as f:
        raw = f.read()
    at = raw.find(_MARK)
    if at < 0:
        raise ViewError(f"{path}: no raw appended data (not written by fendrix?)")
    start = raw.index(b"_", at + len(_MARK)) + 1
    head = raw[:at].decode("ascii") + "</RectilinearGrid></VTKFile>"
    head = re.sub(r"</RectilinearGrid>\s*</RectilinearGrid>", "</RectilinearGrid>", head)
    try:
        root = ET.fromstring(head)
    except ET.ParseError as e:
        raise ViewError(f"{path}: {e}") from None
    if root.get("type") != "RectilinearGrid" or root.get("header_type") != "UInt64":
        raise ViewError(f"{path}: not a rectilinear grid with 64-bit block sizes")
    piece = root.find("RectilinearGrid/Piece")
    ext = [int(v) for v in piece.get("Extent").split()]
    counts = [ext[2 * a + 1] - ext[2 * a] + 1 for a in range(3)]

    def block(node):
        offset = start + int(node.get("offset"))
        size = int(np.frombuffer(raw, "<u8", 1, offset)[0])
        dtype = np.dtype(_TYPES[node.get("type")])
        return np.frombuffer(raw, dtype, size // dtype.itemsize, offset + 8).copy()

    grid = Grid(path=str(path))
    grid.coords = [block(n) for n in piece.find("Coordinates")]
    for n in piece.find("PointData"):
        values = block(n)
        comps = int(n.get("NumberOfComponents", "1"))
        shape = (counts[2], counts[1], counts[0]) + ((comps,) if comps > 1 else ())
        grid.arrays[n.get("Name")] = values.reshape(shape)
    fd = root.find("RectilinearGrid/FieldData/DataArray")
    if fd is not None:
        grid.label, grid.value = fd.get("Name"), float(fd.text)
    return grid


def read_pvd(path):
    """[(timestep, .vtr path)] of a collection, in its order."""
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as e:
        raise ViewError(f"{path}: {e}") from None
    base = os.path.dirname(os.path.abspath(path))
    return [(float(d.get("timestep")), os.path.join(base, d.get("file")))
            for d in root.iter("DataSet")]


# --- pictures ---------------------------------------------------------------

_UNITS = {"E": "V/m", "H": "A/m", "J": "A/m"}


def _component(values, component):
    """|vector| or one component of an (..., 3) array."""
    if component == "norm":
        return np.sqrt(np.sum(values.astype(float) ** 2, axis=-1))
    return values[..., "xyz".index(component)].astype(float)


def _draw(ax, grid, image, cmap, vmin, vmax, title, unit):
    axis = grid.normal_axis
    u, v = [a for a in range(3) if a != axis]
    cu, cv = grid.coords[u] * 1e3, grid.coords[v] * 1e3
    mesh = ax.pcolormesh(cu, cv, image, shading="gouraud", cmap=cmap, vmin=vmin, vmax=vmax)
    # Mesh outline: every mesh line, faint, so the cell sizes show.
    for c in cu:
        ax.axvline(c, color="0.6", lw=0.2, alpha=0.5)
    for c in cv:
        ax.axhline(c, color="0.6", lw=0.2, alpha=0.5)
    if "metal" in grid.arrays and grid.plane("metal").max() > 0:
        ax.contour(cu, cv, grid.plane("metal"), levels=[0.5], colors="cyan", linewidths=0.8)
    ax.set_aspect("equal")
    ax.set_xlabel(f"{'xyz'[u]} / mm")
    ax.set_ylabel(f"{'xyz'[v]} / mm")
    ax.set_title(title, fontsize=10)
    ax.figure.colorbar(mesh, ax=ax, label=unit, shrink=0.85)
    return mesh


def _arrows(ax, grid, quantity, image, across=24):
    """The in-plane direction of the field at the instant it peaks where it is
    strongest: arrows of Re(F exp(-j phi)) on about `across` nodes per axis,
    where the magnitude exceeds a tenth of its largest value."""
    axis = grid.normal_axis
    u, v = [a for a in range(3) if a != axis]
    phasor = grid.plane(f"{quantity}_magnitude") * np.exp(1j * np.radians(grid.plane(f"{quantity}_phase")))
    peak = np.unravel_index(np.argmax(image), image.shape)
    strongest = phasor[peak][np.argmax(np.abs(phasor[peak]))]
    real = (phasor * np.exp(-1j * np.angle(strongest))).real
    rows, cols = image.shape
    r = slice(None, None, max(1, rows // across))
    c = slice(None, None, max(1, cols // across))
    show = image[r, c] > 0.1 * image.max()
    cu, cv = np.meshgrid(grid.coords[u][c] * 1e3, grid.coords[v][r] * 1e3)
    ax.quiver(cu[show], cv[show], real[r, c, u][show], real[r, c, v][show], color="white",
              alpha=0.8, width=0.003)


def map_png(grid: Grid, path, quantity="J", component="norm"):
    """Magnitude (vector length or one component) of a frequency map as a PNG."""
    name = f"{quantity}_magnitude"
    if name not in grid.arrays:
        raise ViewError(f"{grid.path}: no {name} (not a frequency map)")
    image = _component(grid.plane(name), component)
    fig, ax = plt.subplots(figsize=(6.4, 5.2))
    where = f"{'xyz'[grid.normal_axis]} = {grid.coords[grid.normal_axis][0] * 1e3:.4g} mm"
    what = f"|{quantity}|" if component == "norm" else f"|{quantity}{component}|"
    _draw(ax, grid, image, "inferno", 0.0, float(image.max()) or 1.0,
          f"{what} at {grid.value / 1e9:.4g} GHz, {where}",
          f"{_UNITS[quantity]} per volt incident at port 1")
    if component == "norm":
        _arrows(ax, grid, quantity, image)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


def series_pngs(entries, outdir, stem, quantity="E", component="z", gif=True):
    """One PNG per snapshot of a plane series on a common symmetric colour
    scale, and an animated GIF of them."""
    grids = [read_vtr(p) for _, p in entries]
    if not grids:
        raise ViewError("empty series")
    if quantity not in grids[0].arrays:
        raise ViewError(f"{grids[0].path}: no {quantity} (not a snapshot)")
    images = [_component(g.plane(quantity), component) for g in grids]
    top = max(float(np.abs(i).max()) for i in images) or 1.0
    symmetric = component != "norm"
    written = []
    frames = []
    what = f"|{quantity}|" if component == "norm" else f"{quantity}{component}"
    # One figure for the whole series: only the picture and the title change.
    fig, ax = plt.subplots(figsize=(6.4, 5.2))
    mesh = _draw(ax, grids[0], images[0], "RdBu_r" if symmetric else "inferno",
                 -top if symmetric else 0.0, top, "", _UNITS[quantity])
    fig.tight_layout()
    for n, (g, image) in enumerate(zip(grids, images)):
        mesh.set_array(image)
        ax.set_title(f"{what} at t = {g.value * 1e9:.4g} ns", fontsize=10)
        png = os.path.join(outdir, f"{stem}_{n:04d}.png")
        fig.savefig(png, dpi=90)
        written.append(png)
        if gif:
            frames.append(np.asarray(fig.canvas.buffer_rgba())[..., :3].copy())
    plt.close(fig)
    if gif:
        from PIL import Image

        path = os.path.join(outdir, f"{stem}.gif")
        pictures = [Image.fromarray(f) for f in frames]
        pictures[0].save(path, save_all=True, append_images=pictures[1:], duration=120, loop=0)
        written.append(path)
    return written


def draw_views(path, outdir=".", quantity=None, component=None):
    """PNGs (and a GIF) of a .pvd collection or one .vtr file; the files written."""
    os.makedirs(outdir, exist_ok=True)
    stem = os.path.splitext(os.path.basename(path))[0]
    entries = read_pvd(path) if path.lower().endswith(".pvd") else [(0.0, path)]
    first = read_vtr(entries[0][1])
    if first.normal_axis is None:
        raise ViewError(f"{path}: whole-grid snapshots are for ParaView; pictures need a plane")
    if "E_magnitude" in first.arrays:
        written = []
        for n, (_, p) in enumerate(entries):
            png = os.path.join(outdir, f"{stem}_{n:02d}.png" if len(entries) > 1 else f"{stem}.png")
            written.append(map_png(read_vtr(p), png, quantity or "J", component or "norm"))
        return written
    return series_pngs(entries, outdir, stem, quantity or "E", component or "norm",
                       gif=len(entries) > 1)


def add_fields_command(sub):
    """The `fields` command of python3 -m fendrix_tools."""
    p = sub.add_parser("fields", help="PNGs (and a GIF) of field views: a plane series or a map")
    p.add_argument("files", nargs="+", metavar="FILE", help=".pvd collection or .vtr file")
    p.add_argument("-o", "--outdir", default=".", help="folder for the pictures (default: .)")
    p.add_argument("--quantity", choices=("E", "H", "J"),
                   help="field to draw (default: E for snapshots, J for maps)")
    p.add_argument("--component", choices=("x", "y", "z", "norm"),
                   help="vector component or its length (default: norm)")

    def run(args):
        for path in args.files:
            for written in draw_views(path, args.outdir, args.quantity, args.component):
                print(f"Wrote {written}")
        return 0

    p.set_defaults(func=run)
