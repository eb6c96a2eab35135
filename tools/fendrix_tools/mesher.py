"""Automatic mesh lines from the geometry of a model, one axis at a time.

Rules, in order of priority:
- a line on every shape face or edge, port and element end, domain border,
  user line and refinement border ("hard" lines);
- a free edge of a metal sheet gets no line of its own: the edge sits one
  third into a cell, the line inside the metal a third of a cell in, the one
  outside two thirds out.  The field is singular at the edge, and this places
  the strip's effective edge where a fine mesh would find it;
- no cell larger than a wavelength / cells_per_wavelength in the densest
  material at the highest frequency of interest, nor than a refinement asks;
- every gap between hard lines inside the structure gets at least thin_cells
  cells (substrates, strip widths, slots);
- cells grow away from small ones by at most `ratio`;
- absorbing faces get an air margin (default a quarter wavelength at the band
  centre), and the far-field box fits into it;
- with a matched layer, its cells lie beyond the margin on absorbing faces.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field

from .checks import ModelError, number, whole
from .meshcheck import report_lines
from .shapes import fmt, metal_sheet

C0 = 299792458.0
# The simulator's grid limit for one process (its error -21): storage blocks of
# four nodes, 192 bytes each, addressed with 32 bits.
MAX_NODES = 4 * (2 ** 32 // 192)
MAX_LINES = 100_000  # per axis: far beyond any sound mesh, and the mesher stays quick


@dataclass
class Settings:
    cells_per_wavelength: float = 20.0
    ratio: float = 1.5
    thin_cells: int = 3
    margin: float = None  # metres; None: a quarter wavelength at the band centre
    density: float = 1.0  # scales every cell-size target down
    thirds: bool = True
    domain: list = field(default_factory=lambda: [None, None, None])
    extra: list = field(default_factory=lambda: [[], [], []])
    refine: list = field(default_factory=list)  # (corner, corner, cell)
    max_nodes: int = MAX_NODES


def check_setting(name, value):
    """One scalar mesh setting, checked; returns the value to store (margin in
    the caller's units, converted by the caller)."""
    what = f"mesh setting {name}"
    if name == "cells_per_wavelength":
        return number(value, what, low=2, high=1000)
    if name == "ratio":
        return number(value, what, low=1.1, high=10,
                      hint=" (the largest neighbouring-cell ratio: 1.1 to 10; 1.5 is usual)")
    if name == "thin_cells":
        return whole(value, what, 1, 1000)
    if name == "margin":
        return None if value is None else number(value, what, low=0)
    if name == "density":
        return number(value, what, above=0, high=1000, hint=" (1 is the default; 2 halves the cells)")
    if name == "thirds":
        if not isinstance(value, bool):
            raise ModelError(f"{what}: {value!r} must be True or False")
        return value
    if name == "max_nodes":
        return whole(value, what, 8, hint=f" (the simulator's limit for one process is {MAX_NODES})")
    raise ModelError(f"mesh setting {name!r} unknown; known: {', '.join(SCALAR_SETTINGS)}")


SCALAR_SETTINGS = ("cells_per_wavelength", "ratio", "thin_cells", "margin", "density", "thirds",
                   "max_nodes")


def check_settings(st):
    for name in SCALAR_SETTINGS:
        value = getattr(st, name)
        if name == "margin" and value is not None:
            number(value, "mesh setting margin", low=0)
        else:
            check_setting(name, value)


class Mesh:
    def __init__(self, lines, model, structure_box=None):
        self.lines = [sorted(v) for v in lines]
        self.model = model
        self.structure_box = structure_box or structure_extent(model)

    def nearest(self, k, v) -> int:
        """The simulator's nearest-line index: first midpoint at or beyond v."""
        ls = self.lines[k]
        for i in range(len(ls) - 1):
            if (ls[i] + ls[i + 1]) / 2 >= v:
                return i
        return len(ls) - 1

    def lines_text(self) -> list:
        return [f"{a}Mesh " + ",".join(fmt(v) for v in ls) + "\n"
                for a, ls in zip("xyz", self.lines)]

    def cells(self, k):
        ls = self.lines[k]
        return [b - a for a, b in zip(ls, ls[1:])]

    def time_step(self) -> float:
        """Vacuum stability limit of the smallest cells (the simulator's own
        limit, from the filled grid, is a little larger inside dielectrics)."""
        return 1.0 / (C0 * math.sqrt(sum(1.0 / min(self.cells(k)) ** 2 for k in range(3))))

    def steps(self):
        """(run-limit steps or None, pulse length in steps)."""
        m, dt = self.model, self.time_step()
        half = {"baseband": 1.8 * m.f2, "wideband": m.f2,
                "band": (m.f2 - m.f1) / 2}.get(m.excitation, 0)
        pulse = math.ceil(2.0 / (half * 2 * math.pi / 9 * dt)) if half > 0 else \
            math.ceil(3.0 / (0.5 * m.f2 * dt))
        return (pulse * m.time_factor if m.time_factor else None), pulse

    def report(self, speed=None) -> str:
        n = [len(v) for v in self.lines]
        nodes = (n[0] + 3) // 4 * 4 * n[1] * n[2]
        cells = [self.cells(k) for k in range(3)]
        limit, pulse = self.steps()
        text = (f"Mesh: {n[0]} x {n[1]} x {n[2]} lines, {nodes / 1e6:.3g} M nodes, about "
                f"{nodes * 72 / 2 ** 20:.0f} MB\n"
                + "".join(f"  {a}: cells {min(c) * 1e3:.4g} to {max(c) * 1e3:.4g} mm, largest "
                          f"neighbour ratio {max_ratio(c):.2f}\n" for a, c in zip("xyz", cells))
                + report_lines(self.model, self)
                + f"  time step about {self.time_step() * 1e12:.3g} ps, pulse {pulse} steps, ")
        steps = limit or 20 * pulse
        text += f"run limit {limit} steps\n" if limit else "no step limit (estimate: 20 pulses)\n"
        speed = speed if speed is not None else measured_speed()
        if speed:
            text += (f"  estimated run time at most {steps * nodes / speed:.0f} s at "
                     f"{speed / 1e6:.0f} M node updates/s measured on this machine\n")
        return text


def max_ratio(cells) -> float:
    return max([max(a / b, b / a) for a, b in zip(cells, cells[1:])] or [1.0])


_speed = None


def measured_speed():
    """Node updates per second of the simulator on this machine, measured once
    per process on a small vacuum grid; None when no simulator is found."""
    global _speed
    if _speed is not None:
        return _speed or None
    import re
    import tempfile
    from pathlib import Path

    from .simulator import RunOptions, default_binary, run_quietly

    _speed = 0
    exe = Path(default_binary())
    if not exe.is_file():
        return None
    lines = ",".join(f"{i * 1e-3:.3g}" for i in range(48))
    text = (f"Sim 2 1e-9 4 speed.dat\nFreq 2 1e9 1e10 2\nBoundary 2 2 2 2 2 2\nxMesh {lines}\n"
            f"yMesh {lines}\nzMesh {lines}\nElectric 1 2 50 x 0.02,0.02,0.02 0.02,0.02,0.021\n")
    with tempfile.TemporaryDirectory() as d:
        (Path(d) / "speed.txt").write_text(text)
        # the step limit ends it: no -r, which would only add its energy sums
        rc, stdout = run_quietly(exe, "speed.txt", d, RunOptions(repeatable=False), timeout=60)
        if rc is None:
            return None
        m = re.search(r"Performed (\d+) iterations in ([\d.]+) sec", stdout)
        if m and float(m.group(2)) > 0:
            _speed = int(m.group(1)) * 48 * 48 * 48 / float(m.group(2))
    return _speed or None


def structure_extent(model):
    items = model.shapes() + model.elements
    if not items:
        return [d or (0.0, 0.0) for d in model.settings.domain]
    box = []
    for k in range(3):
        los = [s.bbox()[0][k] for s in items]
        his = [s.bbox()[1][k] for s in items]
        box.append((min(los), max(his)))
    return box


def make_mesh(model) -> Mesh:
    st = model.settings
    check_settings(st)
    extent = structure_extent(model)
    fmax = model.max_frequency()
    fc = (model.f1 + model.f2) / 2 if model.excitation == "band" else model.f2 / 2
    margin = st.margin if st.margin is not None else C0 / fc / 4
    nmin = max(2, math.ceil(st.thin_cells * st.density))
    air = C0 / fmax / st.cells_per_wavelength / st.density
    sheet_cell = _sheet_cell(model, nmin)
    doms, limit_sets = [], []
    for k in range(3):
        lo, hi = extent[k]
        if st.domain[k]:
            dom = st.domain[k]
        else:
            dom = (lo - margin if model.boundary[2 * k] == "2" else lo,
                   hi + margin if model.boundary[2 * k + 1] == "2" else hi)
        if not (math.isfinite(dom[0]) and math.isfinite(dom[1])) or not dom[0] < dom[1]:
            raise ModelError(f"{model.name}: the domain along {'xyz'[k]} has no extent "
                             f"({dom[0]:g}..{dom[1]:g} m): give it one with domain({'xyz'[k]}=...) "
                             f"or an absorbing face there")
        limits = [(dom[0], dom[1], air)]
        for s in model.shapes():
            if s.material.kind == "dielectric":
                a, b = s.bbox()
                limits.append((a[k], b[k], air / math.sqrt(s.material.eps_r)))
        limits += [(a[k], b[k], h) for a, b, h in st.refine]
        doms.append(dom)
        limit_sets.append(limits)
    least = [max(2, _least_lines(dom, limits)) for dom, limits in zip(doms, limit_sets)]
    _check_budget(model, least, "at least")
    lines = []
    for k in range(3):
        lo, hi = extent[k]
        dom = doms[k]
        others = math.prod(least) // least[k]
        cap = min(MAX_LINES, st.max_nodes // others + 1)
        axis = _Axis(k, dom, (max(lo, dom[0]), min(hi, dom[1])), limit_sets[k], nmin, st.ratio,
                     _Budget(model, k, cap))
        axis.collect(model, st, sheet_cell)
        ls = axis.fill()
        layers = (model.layer_cells(2 * k), model.layer_cells(2 * k + 1))
        if model.radiation:
            # the far-field margin counts from a layer's inner edge; a wall
            # face has no layer, so the box needs the layer's cells of air there
            base = max(model.radiation[3], 2) + 2 + (model.pml or 0)
            need = [base - n for n in layers]
            ls = _fit_far_field(ls, axis.feature, need, st.ratio, axis.hard, axis.hmax,
                                axis.budget)
        ls = add_layers(ls, layers)
        _check_resolution(model, k, ls)
        lines.append(ls)
        least[k] = len(ls)
    _check_budget(model, least, "")
    return Mesh(lines, model, extent)


def _least_lines(dom, limits) -> int:
    """Lines the cell limits alone ask for across the domain: a lower bound
    of the mesh, cheap to know before any line is placed."""
    cuts = sorted({dom[0], dom[1]} | {min(max(v, dom[0]), dom[1]) for a, b, _ in limits
                                      for v in (a, b)})
    total = 0.0
    for a, b in zip(cuts, cuts[1:]):
        mid = (a + b) / 2
        h = min(h for lo, hi, h in limits if lo <= mid <= hi)
        total += (b - a) / h
    return math.ceil(min(total, 1e15)) + 1  # beyond any budget already


def _nodes(counts) -> int:
    """Nodes as the simulator stores them: x rounded up to blocks of four."""
    return (counts[0] + 3) // 4 * 4 * counts[1] * counts[2]


def _check_budget(model, counts, qualifier):
    budget = model.settings.max_nodes
    nodes = _nodes(counts)
    if nodes > budget:
        about = f"{qualifier} " if qualifier else ""
        raise ModelError(
            f"{model.name}: the mesh needs {about}{counts[0]} x {counts[1]} x {counts[2]} lines, "
            f"{nodes:.3g} nodes, beyond the budget of {budget} nodes (the simulator's limit for "
            f"one process is {MAX_NODES}): lower cells_per_wavelength or density, enlarge "
            f"refinement cells, shrink the margin or the domain, check the units, or raise "
            f"mesh_settings(max_nodes=...) (remesh --max-nodes) for a run over several processes")


class _Budget:
    """The most lines one axis may get; raises ModelError beyond them."""

    def __init__(self, model, k, cap):
        self.model, self.k, self.cap = model, k, cap

    def check(self, count):
        if count > self.cap:
            what = "the node budget" if self.cap < MAX_LINES else f"{MAX_LINES} lines"
            raise ModelError(
                f"{self.model.name}: the mesh along {'xyz'[self.k]} needs more than {self.cap} "
                f"lines, beyond {what} (max_nodes {self.model.settings.max_nodes}): thin layers, "
                f"gaps or refinement cells far smaller than the structure, a grading ratio close "
                f"to 1, or too fine cells per wavelength or density")


    def runaway(self, ratio):
        raise ModelError(
            f"{self.model.name}: the mesh along {'xyz'[self.k]} cannot keep neighbouring cells "
            f"within the ratio {ratio:g} between the fixed lines (edges, thin layers): "
            f"mesh_settings(ratio=...) of 1.2 to 2 can")


def _check_resolution(model, k, lines):
    """The description carries ten digits: lines closer than that would merge."""
    printed = [float(fmt(v)) for v in lines]
    for a, b in zip(printed, printed[1:]):
        if not a < b:
            raise ModelError(f"{model.name}: mesh lines along {'xyz'[k]} near {a:g} m are closer "
                             f"than the ten digits of the description resolve; cells that small "
                             f"so far from the origin need the structure moved nearer to it or "
                             f"larger thin cells")


def _sheet_cell(model, nmin):
    """Edge cells of metal sheets: a fraction of the dielectric layer they lie
    on, where the field of a strip concentrates."""
    best = math.inf
    sheets = [s for s in model.shapes() if metal_sheet(s)]
    for s in sheets:
        n = s.sheet_axis()
        pos = s.bbox()[0][n]
        for d in model.shapes():
            if d.material.kind == "dielectric":
                a, b = d.bbox()
                if pos in (a[n], b[n]) and b[n] > a[n]:
                    best = min(best, (b[n] - a[n]) / nmin)
    return best


class _Axis:
    def __init__(self, k, dom, feature, limits, nmin, ratio, budget):
        self.k, self.dom, self.feature = k, dom, feature
        self.limits, self.nmin, self.ratio = limits, nmin, ratio
        self.budget = budget
        self.points = {}  # coordinate -> set of metal-edge sides (0: hard)
        self.features = set()  # coordinates of shape edges (they bound thin layers)

    def add(self, c, side=0, feature=False):
        if self.dom[0] <= c <= self.dom[1]:
            self.points.setdefault(c, set()).add(side)
            if feature:
                self.features.add(c)

    def collect(self, model, st, sheet_cell):
        k = self.k
        self.add(self.dom[0])
        self.add(self.dom[1])
        for s in model.shapes():
            sheet = metal_sheet(s)
            for c, side in s.edges(k):
                self.add(c, side if (sheet and st.thirds) else 0, feature=True)
        for e in model.elements:
            self.add(e.lo[k])
            self.add(e.hi[k])
        for c in st.extra[k]:
            self.add(c)
        for a, b, _ in st.refine:
            self.add(a[k])
            self.add(b[k])
        self.sheet_cell = sheet_cell

    def hmax(self, x) -> float:
        h = min((h for a, b, h in self.limits if a <= x <= b), default=None)
        if h is None:  # only where the arithmetic broke down: x is not a number
            raise ModelError(f"the mesh along {'xyz'[self.k]} broke down near {self.dom} m: "
                             f"sizes too far apart for double precision; check the units")
        return h

    def layer(self, x0, x1):
        """The gap between neighbouring shape edges that holds [x0, x1], if it
        lies inside the structure: it gets at least nmin cells."""
        feats = sorted(self.features)
        for a, b in zip(feats, feats[1:]):
            if a <= x0 and x1 <= b and self.feature[0] <= a and b <= self.feature[1]:
                return a, b
        return None

    def fill(self) -> list:
        coords = sorted(self.points)
        self.budget.check(len(coords))
        # free metal edges: one side only, nothing else at that coordinate
        thirds = {c: next(iter(s)) for c, s in self.points.items() if len(s) == 1 and 0 not in s}
        target = {}
        for i, c in enumerate(coords):
            h = self.hmax(c)  # both sides' limits hold at a border
            for j in (i - 1, i + 1):
                if 0 <= j < len(coords):
                    gap = self.layer(*sorted((c, coords[j])))
                    if gap:
                        h = min(h, (gap[1] - gap[0]) / self.nmin)
            target[c] = h
        # cells that follow h(x) = h0 + g x grow by (1 + g/2) / (1 - g/2) each: stay below ratio
        grow = 0.9 * 2 * (self.ratio - 1) / (self.ratio + 1)
        for c in coords:  # no target may outgrow what the grading allows from another
            target[c] = min(target[q] + grow * abs(c - q) for q in coords)
        shrink = {}  # thirds cells that came out too large for their neighbours
        for _ in range(6):
            pts, fixed = {}, {}
            for c in coords:
                if c in thirds:
                    h = min(target[c], self.sheet_cell, shrink.get(c, math.inf))
                    s = thirds[c]
                    inner, outer = c + s * h / 3, c - s * 2 * h / 3
                    pts[inner] = pts[outer] = h
                    fixed[(min(inner, outer), max(inner, outer))] = c
                else:
                    pts[c] = target[c]
            xs = sorted(pts)
            lines = [xs[0]]
            for a, b in zip(xs, xs[1:]):
                if (a, b) not in fixed:
                    lines += self._fill_interval(a, b, pts, grow, len(lines))[1:-1]
                lines.append(b)
            self.hard = _Hard(xs, fixed)
            lines = _smooth(lines, self.ratio, self.hard, self.hmax, self.budget)
            again = False
            for i in range(len(lines) - 1):
                c = fixed.get((lines[i], lines[i + 1]))
                if c is not None:
                    nb = min(lines[j + 1] - lines[j] for j in (i - 1, i + 1)
                             if 0 <= j < len(lines) - 1)
                    if lines[i + 1] - lines[i] > self.ratio * nb * (1 + 1e-6):
                        shrink[c] = self.ratio * nb * 0.98
                        again = True
            if not again:
                break
        return lines

    def _fill_interval(self, a, b, pts, grow, before, samples=400):
        xs = [a + (b - a) * i / samples for i in range(samples + 1)]
        near = sorted(pts, key=lambda p: min(abs(p - a), abs(p - b)))[:8]
        hs = [min(self.hmax(x), min(pts[p] + grow * abs(x - p) for p in near)) for x in xs]
        cum = [0.0]
        for i in range(samples):
            cum.append(cum[-1] + (xs[i + 1] - xs[i]) * 0.5 * (1 / hs[i] + 1 / hs[i + 1]))
        self.budget.check(before + min(cum[-1], 1e15))
        n = max(1, math.ceil(cum[-1] - 1e-6))
        gap = self.layer(a, b)
        if gap:  # this piece's share of the layer's cells
            n = max(n, math.ceil(self.nmin * (b - a) / (gap[1] - gap[0]) - 1e-6))
        self.budget.check(before + n)
        out, j = [a], 0
        for m in range(1, n):
            t = cum[-1] * m / n
            while cum[j + 1] < t:
                j += 1
            f = (t - cum[j]) / (cum[j + 1] - cum[j])
            out.append(xs[j] + f * (xs[j + 1] - xs[j]))
        out.append(b)
        return out


def _violations(lines, ratio, hard, hmax) -> set:
    """Cells that outgrow a neighbour by more than `ratio` or exceed their limit."""
    cells = [b - a for a, b in zip(lines, lines[1:])]
    bad = set()
    for i, c in enumerate(cells):
        if (lines[i], lines[i + 1]) in hard.fixed:
            continue
        nb = min(cells[j] for j in (i - 1, i + 1) if 0 <= j < len(cells))
        if c > ratio * nb * (1 + 1e-6) or c > hmax((lines[i] + lines[i + 1]) / 2) * (1 + 1e-6):
            bad.add(i)
    return bad


def _smooth(lines, ratio, hard, hmax, budget, sweeps=60):
    """Even out the grading where it fails: the free lines between the hard
    lines around a failing cell slide towards a geometric progression with
    their neighbours; a cell that still fails is halved, and so on.  Halving
    that runs away (the ratio cannot be met between the hard lines) stops at
    eight times the lines it started with."""
    runaway = 8 * len(lines) + 100
    for _ in range(100):
        bad = _violations(lines, ratio, hard, hmax)
        if not bad:
            break
        free = set()
        for i in bad:  # the free lines of the stretch between hard lines around i
            j = i
            while j > 0 and lines[j] not in hard:
                j -= 1
            k = i + 1
            while k < len(lines) - 1 and lines[k] not in hard:
                k += 1
            free.update(range(max(j - 1, 1), min(k + 2, len(lines) - 1)))
        free = sorted(i for i in free if lines[i] not in hard)
        for _ in range(sweeps):
            for i in free:
                a, b = lines[i - 1], lines[i + 1]
                left = lines[i - 1] - lines[i - 2] if i >= 2 else lines[i] - a
                right = lines[i + 2] - lines[i + 1] if i + 2 < len(lines) else b - lines[i]
                t = (left / right) ** (1 / 3)  # left, t*x, x, right in one progression
                lines[i] = a + (b - a) * t / (1 + t)
        bad = _violations(lines, ratio, hard, hmax)
        lines = sorted(lines + [(lines[i] + lines[i + 1]) / 2 for i in bad])
        budget.check(len(lines))
        if len(lines) > runaway:
            budget.runaway(ratio)
    return lines


class _Hard(set):
    """Lines that never move, and the cells (pairs of lines) never split."""

    def __init__(self, values, fixed):
        super().__init__(values)
        self.fixed = fixed


def add_layers(lines, cells):
    """The matched layers' cells beyond the outermost lines: ``cells`` (low,
    high) of them, each as large as the outermost air cell there, so that the
    air margin stays air and the layer starts without a jump in cell size."""
    low, high = cells
    h0, h1 = lines[1] - lines[0], lines[-1] - lines[-2]
    return ([lines[0] - h0 * i for i in range(low, 0, -1)] + lines
            + [lines[-1] + h1 * i for i in range(1, high + 1)])


def _fit_far_field(lines, feature, need, ratio, hard, hmax, budget):
    """At least `need` (below, above) cells between each border and the structure."""
    for _ in range(100):
        below = [x for x in lines if x < feature[0]]
        above = [x for x in lines if x > feature[1]]
        if len(below) >= need[0] and len(above) >= need[1]:
            return lines
        side = lines[:len(below) + 1] if len(below) < need[0] else lines[-len(above) - 1:]
        if len(side) < 2:
            return lines  # the structure reaches the border: the model check says so
        gaps = [(b - a, a, b) for a, b in zip(side, side[1:])]
        _, a, b = max(gaps)
        lines = sorted(lines + [(a + b) / 2])
        lines = _smooth(lines, ratio, hard, hmax, budget)
    return lines
