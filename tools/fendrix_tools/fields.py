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


_HEAD_LIMIT = 16 * 2 ** 20  # the XML before the data is a few kilobytes
_MAP_BYTES = 16 * 2 ** 20  # arrays from this size on are mapped from the file, not read


def _read_head(f, path):
    """The XML text before the raw data and the file offset of the data."""
    head = b""
    while _MARK not in head:
        chunk = f.read(65536)
        if not chunk or len(head) > _HEAD_LIMIT:
            raise ViewError(f"{path}: no raw appended data (not a field view written by fendrix)")
        head += chunk
    at = head.index(_MARK)
    under = head.find(b"_", at + len(_MARK))
    if under < 0 or head[at + len(_MARK):under].strip():
        raise ViewError(f"{path}: appended data does not start with '_' (not written by fendrix?)")
    try:
        text = head[:at].decode("ascii")
    except UnicodeDecodeError:
        raise ViewError(f"{path}: the XML part holds bytes that are not ASCII") from None
    return text, under + 1


def _attr(node, name, path, convert=str):
    value = None if node is None else node.get(name)
    if value is None:
        raise ViewError(f"{path}: an element lacks its {name} attribute")
    try:
        return convert(value)
    except ValueError:
        raise ViewError(f"{path}: {name}={value!r} is malformed") from None


def read_vtr(path) -> Grid:
    """One grid: the XML head, then each array from its place in the file."""
    with open(path, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        head, start = _read_head(f, path)
        head = re.sub(r"</RectilinearGrid>\s*</RectilinearGrid>", "</RectilinearGrid>",
                      head + "</RectilinearGrid></VTKFile>")
        try:
            root = ET.fromstring(head)
        except ET.ParseError as e:
            raise ViewError(f"{path}: {e}") from None
        if root.get("type") != "RectilinearGrid" or root.get("header_type") != "UInt64" \
                or root.get("byte_order", "LittleEndian") != "LittleEndian":
            raise ViewError(f"{path}: not a little-endian rectilinear grid with 64-bit block sizes")
        piece = root.find("RectilinearGrid/Piece")
        ext = _attr(piece, "Extent", path, lambda v: [int(x) for x in v.split()])
        if len(ext) != 6 or any(ext[2 * a + 1] < ext[2 * a] for a in range(3)):
            raise ViewError(f"{path}: Extent {ext} is not three ascending pairs")
        counts = [ext[2 * a + 1] - ext[2 * a] + 1 for a in range(3)]

        def block(node, count):
            kind = _attr(node, "type", path)
            if kind not in _TYPES:
                raise ViewError(f"{path}: array type {kind!r} is none of {', '.join(_TYPES)}")
            dtype = np.dtype(_TYPES[kind])
            offset = start + _attr(node, "offset", path, int)
            f.seek(offset)
            raw = f.read(8)
            nbytes = int.from_bytes(raw, "little") if len(raw) == 8 else -1
            name = node.get("Name")
            if nbytes != count * dtype.itemsize or offset < start or offset + 8 + nbytes > size:
                raise ViewError(f"{path}: array {name!r} at byte {offset} is truncated or does not "
                                f"hold the {count} values the grid needs")
            if nbytes >= _MAP_BYTES:
                return np.memmap(f, dtype=dtype, mode="c", offset=offset + 8, shape=(count,))
            return np.fromfile(f, dtype, count)

        grid = Grid(path=str(path))
        axes = piece.find("Coordinates")
        if axes is None or len(axes) != 3:
            raise ViewError(f"{path}: the grid needs three coordinate arrays")
        grid.coords = [block(n, c) for n, c in zip(axes, counts)]
        point_data = piece.find("PointData")
        for n in (point_data if point_data is not None else []):
            comps = _attr(n, "NumberOfComponents", path, int) if n.get("NumberOfComponents") else 1
            if not 1 <= comps <= 9:
                raise ViewError(f"{path}: {comps} components")
            values = block(n, counts[0] * counts[1] * counts[2] * comps)
            shape = (counts[2], counts[1], counts[0]) + ((comps,) if comps > 1 else ())
            grid.arrays[n.get("Name")] = values.reshape(shape)
    fd = root.find("RectilinearGrid/FieldData/DataArray")
    if fd is not None:
        grid.label = fd.get("Name") or ""
        grid.value = _number(fd.text, path)
    return grid


def _number(text, path) -> float:
    try:
        return float(text)
    except (TypeError, ValueError):
        raise ViewError(f"{path}: field data {text!r} is not a number") from None


def read_pvd(path):
    """[(timestep, .vtr path)] of a collection, in its order."""
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as e:
        raise ViewError(f"{path}: {e}") from None
    base = os.path.dirname(os.path.abspath(path))
    out = [(_attr(d, "timestep", path, float), os.path.join(base, _attr(d, "file", path)))
           for d in root.iter("DataSet")]
    if not out:
        raise ViewError(f"{path}: no DataSet entries (not a collection written by fendrix)")
    return out


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
    if name not in grid.arrays or f"{quantity}_phase" not in grid.arrays:
        raise ViewError(f"{grid.path}: no {name} and {quantity}_phase (not a frequency map)")
    if grid.arrays[name].ndim != 4:
        raise ViewError(f"{grid.path}: {name} is not a vector array")
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
    for g in grids:
        if quantity not in g.arrays or g.arrays[quantity].ndim != 4 or g.normal_axis is None:
            raise ViewError(f"{g.path}: no vector array {quantity} on a plane (not a snapshot "
                            f"series of planes)")
        if g.arrays[quantity].shape != grids[0].arrays[quantity].shape:
            raise ViewError(f"{g.path}: its plane differs in size from {grids[0].path}'s")
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
    """The `fields` command of fendrix-tools (python3 -m fendrix_tools)."""
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
