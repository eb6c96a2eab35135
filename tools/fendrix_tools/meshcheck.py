"""What sets the smallest cell of a mesh, and edges that nearly meet.

The smallest cell sets the time step of the whole run, so it is worth
knowing which two edges made it: usually two faces of different objects that
were meant to meet and lie a hair apart.
"""

from __future__ import annotations

from .shapes import AXES

CLOSE = 0.1  # edges closer than this fraction of the cells around them are flagged


def _label(obj) -> str:
    where = getattr(obj, "where", None)
    return f"{obj.name} ({where})" if where else obj.name


def edges(model, k) -> dict:
    """{coordinate: [labels]} of every shape face or edge and element end across axis k."""
    out = {}
    for s in model.shapes():
        for c, _ in s.edges(k):
            out.setdefault(c, [])
            if _label(s) not in out[c]:
                out[c].append(_label(s))
    for e in model.elements:
        for c in {e.lo[k], e.hi[k]}:
            out.setdefault(c, [])
            if _label(e) not in out[c]:
                out[c].append(_label(e))
    return out


def _mm(v) -> str:
    return f"{v * 1e3:.6g} mm"


def _names(labels) -> str:
    more = f" and {len(labels) - 2} more" if len(labels) > 2 else ""
    return ", ".join(labels[:2]) + more


def smallest_cell(lines, feats) -> str:
    """The smallest cell and the edges within three cells of it that made it: the
    closest pair of them, or the one edge (a free metal edge lies a third
    into its cell), or none (the cell limit or the grading)."""
    cells = [b - a for a, b in zip(lines, lines[1:])]
    i = min(range(len(cells)), key=cells.__getitem__)
    a, b = lines[i], lines[i + 1]
    h = b - a
    near = sorted(c for c in feats if a - 3.01 * h <= c <= b + 3.01 * h)
    text = f"smallest cell {_mm(h)} from {_mm(a)} to {_mm(b)}"
    if len(near) >= 2:
        c1, c2 = min(zip(near, near[1:]), key=lambda p: p[1] - p[0])
        return (text + f", set by {_names(feats[c1])} at {_mm(c1)} and {_names(feats[c2])} "
                f"at {_mm(c2)}, {_mm(c2 - c1)} apart")
    if near:
        return text + f", next to {_names(feats[near[0]])} at {_mm(near[0])}"
    return text + ", away from any edge (cell limit or grading)"


def close_pairs(lines, feats, extent) -> list:
    """(c1, c2, around) for neighbouring edges of different objects closer than
    a tenth of the cells around them: the largest cell inside the structure
    along this axis, the size the mesh would have there but for them."""
    inside = [b - a for a, b in zip(lines, lines[1:]) if extent[0] <= (a + b) / 2 <= extent[1]]
    if not inside:
        return []
    around = max(inside)
    cs = sorted(feats)
    return [(c1, c2, around) for c1, c2 in zip(cs, cs[1:])
            if c2 - c1 < CLOSE * around and set(feats[c1]) != set(feats[c2])]


def report_lines(model, mesh) -> str:
    """The smallest cell of each axis with its cause, and a warning for each
    pair of edges that nearly meet."""
    text = ""
    warnings = []
    for k in range(3):
        feats = edges(model, k)
        text += f"  {AXES[k]}: {smallest_cell(mesh.lines[k], feats)}\n"
        for c1, c2, around in close_pairs(mesh.lines[k], feats, mesh.structure_box[k]):
            warnings.append(
                f"WARNING: {AXES[k]}: {_names(feats[c1])} at {_mm(c1)} and "
                f"{_names(feats[c2])} at {_mm(c2)} lie {_mm(c2 - c1)} apart, under a tenth "
                f"of the cells around them ({_mm(around)}): they force small cells and a short "
                f"time step (a hand mesh leaves one off its lines); align them where they are "
                f"meant to meet\n")
    return text + "".join(warnings)
