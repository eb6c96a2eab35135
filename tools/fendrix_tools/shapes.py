"""Boxes, cylinders and flat polygons in metres, as the simulator reads them.

The inside tests follow the simulator's rules (boundaries included, polygons
by the non-zero winding rule on their plane), so what the tools conclude
about a point is what the grid will see.
"""

from __future__ import annotations

import math

from .checks import ModelError

AXES = "xyz"


def fmt(v: float) -> str:
    """A number as the description carries it: ten significant digits."""
    if not math.isfinite(v):  # the model's checks keep these out; the simulator cannot read them
        raise ModelError(f"{v}: not a number the description can carry")
    text = f"{v:.10g}"
    if text == "-0":
        return "0"
    if abs(v) >= 1e5:  # 2e9 rather than 2000000000
        mant, _, exp = f"{v:.9e}".partition("e")
        text = mant.rstrip("0").rstrip(".") + "e" + str(int(exp))
    elif "e" in text:  # 1e-05 -> 1e-5
        mant, _, exp = text.partition("e")
        text = mant + "e" + str(int(exp))
    return text


def _pt(p) -> str:
    return ",".join(fmt(v) for v in p)


def metal_sheet(shape) -> bool:
    """A flat metal shape: its free edges follow the thirds rule."""
    return shape.material.kind == "metal" and shape.sheet_axis() is not None


class Box:
    keyword = "Cube"

    def __init__(self, a, b, name="box"):
        self.lo = tuple(min(u, v) for u, v in zip(a, b))
        self.hi = tuple(max(u, v) for u, v in zip(a, b))
        self.name, self.material = name, None

    def bbox(self):
        return self.lo, self.hi

    def contains(self, p) -> bool:
        return all(self.lo[k] <= p[k] <= self.hi[k] for k in range(3))

    def line(self) -> str:
        return f"  Cube {_pt(self.lo)} {_pt(self.hi)}\n"

    def sheet_axis(self):
        """Normal axis of a box that is flat along exactly one axis, else None."""
        flat = [k for k in range(3) if self.lo[k] == self.hi[k]]
        return flat[0] if len(flat) == 1 else None

    def edges(self, k):
        """(coordinate, inside side) of the faces across axis k: side +1 when the
        body lies above the coordinate."""
        if self.lo[k] == self.hi[k]:
            return [(self.lo[k], 0)]
        return [(self.lo[k], 1), (self.hi[k], -1)]


class Cylinder:
    keyword = "Cylinder"

    def __init__(self, radius, start, end, name="cylinder"):
        self.radius, self.start, self.end = radius, tuple(start), tuple(end)
        self.name, self.material = name, None

    def bbox(self):
        r, s, e = self.radius, self.start, self.end
        lo = [min(a, b) - r for a, b in zip(s, e)]
        hi = [max(a, b) + r for a, b in zip(s, e)]
        same = [k for k in range(3) if s[k] == e[k]]
        if len(same) == 2:  # parallel to the third axis: flat end faces
            k = 3 - sum(same)
            lo[k], hi[k] = min(s[k], e[k]), max(s[k], e[k])
        return tuple(lo), tuple(hi)

    def sheet_axis(self):
        return None

    def axis(self):
        same = [k for k in range(3) if self.start[k] == self.end[k]]
        return 3 - sum(same) if len(same) == 2 else None

    def contains(self, p) -> bool:
        d = [b - a for a, b in zip(self.start, self.end)]
        w = [q - a for q, a in zip(p, self.start)]
        dd = sum(x * x for x in d)
        if dd == 0:
            return False
        t = sum(x * y for x, y in zip(w, d)) / dd
        if t < 0 or t > 1:
            return False
        return sum((x - t * y) * (x - t * y) for x, y in zip(w, d)) <= self.radius * self.radius

    def line(self) -> str:
        return f"  Cylinder {fmt(self.radius)} {_pt(self.start)} {_pt(self.end)}\n"

    def edges(self, k):
        lo, hi = self.bbox()
        if self.axis() is not None and self.axis() != k:
            return [(lo[k], 1), (self.start[k], 0), (hi[k], -1)]  # centre line too
        return [(lo[k], 1), (hi[k], -1)]


class Polygon:
    keyword = "Polygon"

    def __init__(self, axis, position, points, name="polygon"):
        self.axis, self.position, self.points = axis, position, list(points)
        self.name, self.material = name, None

    def uv_axes(self):
        return (self.axis + 1) % 3, (self.axis + 2) % 3

    def bbox(self):
        u, v = self.uv_axes()
        lo, hi = [0.0] * 3, [0.0] * 3
        lo[self.axis] = hi[self.axis] = self.position
        lo[u], hi[u] = min(p[0] for p in self.points), max(p[0] for p in self.points)
        lo[v], hi[v] = min(p[1] for p in self.points), max(p[1] for p in self.points)
        return tuple(lo), tuple(hi)

    def sheet_axis(self):
        return self.axis

    def contains_uv(self, pu, pv) -> bool:
        winding = 0
        pts = self.points
        for i in range(len(pts)):
            (au, av), (bu, bv) = pts[i - 1], pts[i]
            if bu == au == pu and min(av, bv) < pv < max(av, bv):
                return True
            if bv == av == pv and min(au, bu) < pu < max(au, bu):
                return True
            a_up, b_up = av >= pv, bv >= pv
            if a_up != b_up:
                left = (bv - av) * (bu - pu)
                right = (bu - au) * (bv - pv)
                if left >= right and b_up:
                    winding += 1
                elif left < right and not b_up:
                    winding -= 1
        return winding != 0

    def contains(self, p) -> bool:
        lo, hi = self.bbox()
        if any(p[k] < lo[k] or p[k] > hi[k] for k in range(3)):
            return False
        u, v = self.uv_axes()
        return self.contains_uv(p[u], p[v])

    def line(self) -> str:
        pts = " ".join(f"{fmt(u)},{fmt(v)}" for u, v in self.points)
        return f"  Polygon {fmt(self.position)} {self.axis} {pts}\n"

    def edges(self, k):
        """Across the normal: the plane. In the plane: edges that run across
        axis k with the polygon's side, and the ends of slanted edges (side 0)."""
        if k == self.axis:
            return [(self.position, 0)]
        j = 0 if k == self.uv_axes()[0] else 1
        out = []
        pts = self.points
        for i in range(len(pts)):
            a, b = pts[i - 1], pts[i]
            if a[j] != b[j]:
                if a[1 - j] != b[1 - j]:
                    out += [(a[j], 0), (b[j], 0)]
                continue
            c, mid = a[j], (a[1 - j] + b[1 - j]) / 2
            step = 1e-9 * (abs(c) + 1e-3)
            inside = []
            for off in (step, -step):
                probe = [0.0, 0.0]
                probe[j], probe[1 - j] = c + off, mid
                inside.append(self.contains_uv(*probe))
            out.append((c, (1 if inside[0] else -1) if inside[0] != inside[1] else 0))
        return out
