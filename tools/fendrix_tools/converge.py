"""Mesh convergence: rerun a structure on finer meshes until its answer stops moving.

A hand-written description has every cell split in two at each step; a model
is meshed again with a higher automatic-mesher density.  Successive results
are compared over the band (|Sk1|, linear), and with a far-field request the
maximum directivity and the efficiency too.  The comparison, the decision and
the Richardson extrapolation are pure functions of the results, so that they
can be checked on made-up sequences.

Free metal edges keep their place: a sheet's free edge belongs a third of its
cell beyond the last line inside the metal.  Halving that cell would leave the
edge at two thirds of the new cell and move the effective edge inwards by a
sixth of the old cell, so the pair of lines around it is placed anew for the
new cell size instead (or, where the inner line is held by another object, the
edge cell stays whole).
"""

from __future__ import annotations

import math
import re
import shutil
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from .mesher import MAX_NODES
from .shapes import metal_sheet

DIRECTIVITY_TOL = 0.1  # dB
EFFICIENCY_TOL = 0.5  # percentage points
DENSITY_STEP = 1.5  # a model's mesher density rises by this much per run
THIRDS_TOL = 0.05  # how near a third of its cell an edge must lie to count as placed by the rule


class ConvergeError(ValueError):
    """A failed run or unusable input (printed as an error, status 1)."""


@dataclass
class Result:
    """One run: mesh size, cost and answer."""
    h: float  # relative cell size (1 for the first run)
    nodes: int
    steps: int
    seconds: float
    freqs: np.ndarray
    s: np.ndarray  # complex, (ports, frequencies): S(k+1)1
    directivity: float = None  # dBi
    efficiency: float = None  # percent


@dataclass
class Change:
    """How far one result moved from the one before."""
    s: float  # largest | |Sk1|new - |Sk1|old | over the band
    port: int  # k of that Sk1 (1-based)
    freq: float  # Hz
    directivity: float = None  # |difference| in dB
    efficiency: float = None  # |difference| in percentage points


# --- pure logic -----------------------------------------------------------------

def change(prev: Result, cur: Result) -> Change:
    """Largest difference of |Sk1| over the band (the earlier run interpolated
    onto the later one's frequencies when they differ), and of the far field."""
    old = np.abs(prev.s)
    if len(prev.freqs) != len(cur.freqs) or not np.allclose(prev.freqs, cur.freqs):
        old = np.array([np.interp(cur.freqs, prev.freqs, row) for row in old])
    ports = min(len(old), len(cur.s))
    diff = np.abs(np.abs(cur.s[:ports]) - old[:ports])
    diff = np.where(np.isnan(diff), np.inf, diff)  # a run without numbers never agrees
    k, i = np.unravel_index(int(np.argmax(diff)), diff.shape)
    d_dir = d_eff = None
    if prev.directivity is not None and cur.directivity is not None:
        d_dir = abs(cur.directivity - prev.directivity)
        d_eff = abs(cur.efficiency - prev.efficiency)
    return Change(float(diff[k, i]), int(k) + 1, float(cur.freqs[i]), d_dir, d_eff)


def agrees(ch: Change, tol: float) -> bool:
    """Two successive runs agree: every |Sk1| within tol, and the far field
    within 0.1 dB of directivity and 0.5 points of efficiency."""
    return (ch.s < tol and (ch.directivity is None or ch.directivity < DIRECTIVITY_TOL)
            and (ch.efficiency is None or ch.efficiency < EFFICIENCY_TOL))


def minimum_frequency(freqs, s):
    """Frequency of the least |S|, refined by a parabola through |S|^2 at the
    three points around it (|S|^2 is smooth through a zero, |S| in dB is not);
    None without numbers or where the least value lies on a band edge."""
    p = np.abs(np.asarray(s)) ** 2
    if len(p) < 3 or np.all(np.isnan(p)):
        return None
    i = int(np.nanargmin(p))
    if not 0 < i < len(p) - 1:
        return None  # at a band edge: no minimum inside the band
    y0, y1, y2 = p[i - 1], p[i], p[i + 1]
    den = y0 - 2 * y1 + y2
    if den > 0:
        step = (freqs[i + 1] - freqs[i - 1]) / 2
        return float(freqs[i] + step * 0.5 * (y0 - y2) / den)
    return float(freqs[i])


def extrapolate(values, hs):
    """Richardson extrapolation of a quantity to zero cell size.

    From the last three runs the observed order p follows from the ratio of
    the two differences; where it is not usable (too few runs, differences
    that change sign or do not shrink, p outside 0.5..4) second order, the
    order of the scheme, is assumed from the last two.  Returns (value,
    spread) with spread the distance to the finest run or to the other
    estimate, whichever is larger; None with fewer than two values."""
    pairs = [(v, h) for v, h in zip(values, hs) if v is not None]
    if len(pairs) < 2:
        return None
    (v1, h1), (v2, h2) = pairs[-2:]
    r = h1 / h2
    second = v2 + (v2 - v1) / (r ** 2 - 1)
    value, spread = second, abs(second - v2)
    if len(pairs) >= 3:
        v0 = pairs[-3][0]
        d1, d2 = v1 - v0, v2 - v1
        if d1 * d2 > 0 and abs(d2) < abs(d1):
            p = math.log(d1 / d2) / math.log(r)
            if 0.5 <= p <= 4:
                value = v2 + d2 / (r ** p - 1)
                spread = max(abs(value - v2), abs(value - second))
        else:  # oscillating or not shrinking: no better than the last step
            spread = max(spread, abs(d2))
    return value, spread


# --- meshes -------------------------------------------------------------------

def free_edges(model, k) -> dict:
    """{coordinate: side} of the free metal-sheet edges across axis k (side +1:
    the metal lies above the coordinate); an edge shared with anything else
    (another shape's face, a port end) is held by a line and not free."""
    sides = {}
    for s in model.shapes():
        sheet = metal_sheet(s)
        for c, side in s.edges(k):
            sides.setdefault(c, set()).add(side if sheet else 0)
    for e in model.elements:
        sides.setdefault(e.lo[k], set()).add(0)
        sides.setdefault(e.hi[k], set()).add(0)
    return {c: next(iter(v)) for c, v in sides.items() if len(v) == 1 and 0 not in v}, \
        {c for c, v in sides.items() if 0 in v or len(v) > 1}


def split_axis(lines, free, held=()) -> list:
    """Every cell split in two, free metal edges kept a third of their (new)
    cell beyond the line inside the metal.  The edge cell's pair of lines is
    placed anew for half the old cell; the old pair gives way (unless held by
    a border, a face or another edge), and the stretch from each new line to
    the next halved line is shared out in cells near the new edge cell's size,
    so that neighbouring cells stay within about 2 of each other.  Where the
    inner line is held, the edge cell stays whole instead."""
    lines = sorted(lines)
    new = set(lines) | {(a + b) / 2 for a, b in zip(lines, lines[1:])}
    tol = 1e-9 * (lines[-1] - lines[0])
    keep = {lines[0], lines[-1]} | {x for x in lines if any(abs(x - c) <= tol for c in held)}
    edge_cells = []
    for c, side in free.items():
        i = int(np.searchsorted(lines, c))
        if not 0 < i < len(lines) or abs(lines[i] - c) <= tol or abs(lines[i - 1] - c) <= tol:
            continue  # on a line or outside the mesh: plain halving keeps it
        a, b = lines[i - 1], lines[i]
        if abs((c - a) / (b - a) - (2 / 3 if side > 0 else 1 / 3)) <= THIRDS_TOL:
            edge_cells.append((c, side, a, b))
    used = [x for _, _, a, b in edge_cells for x in (a, b)]
    for c, side, a, b in edge_cells:
        h = (b - a) / 2
        inner, outer = (b, a) if side > 0 else (a, b)
        new.discard((a + b) / 2)
        if inner in keep or used.count(inner) > 1:
            continue  # the edge cell stays whole
        pair = (c + side * h / 3, c - side * 2 * h / 3)  # the new inner and outer line
        new.discard(inner)
        if outer not in keep and used.count(outer) == 1:
            new.discard(outer)
        for p, away in zip(pair, (side, -side)):
            beyond = [x for x in new if (x - p) * away > 0]
            if not beyond:
                continue
            q = min(beyond, key=lambda x: abs(x - p))
            n = max(1, round(abs(q - p) / h))
            new.update(p + (q - p) * j / n for j in range(1, n))
        new.update(pair)
    return sorted(new)


def split_mesh(model, lines) -> list:
    """The three axes of a hand mesh split as split_axis does."""
    out = []
    for k in range(3):
        free, held = free_edges(model, k)
        out.append(split_axis(lines[k], free, held))
    return out


def node_count(lines) -> int:
    n = [len(v) for v in lines]
    return (n[0] + 3) // 4 * 4 * n[1] * n[2]


# --- runs ---------------------------------------------------------------------

def _run_simulator(binary, text, folder, name, options):
    """Write NAME.txt into folder and run it with the run options, always
    repeatably (-r): a change between runs must come from the mesh, not from
    where the decay test happened to fall. (seconds, steps)."""
    import dataclasses
    import io

    from .exit_status import describe
    from .simulator import SimulatorError, run

    folder.mkdir(parents=True, exist_ok=True)
    (folder / f"{name}.txt").write_bytes(text.encode("latin-1"))
    options = dataclasses.replace(options, repeatable=True, verbose=0)
    shown, errors = io.StringIO(), io.StringIO()
    start = time.monotonic()
    try:
        status, killed, stderr = run(binary, f"{name}.txt", folder, options, out=shown, err=errors)
    except SimulatorError as e:
        raise ConvergeError(str(e)) from None
    seconds = time.monotonic() - start
    if status != 0:
        tail = "".join(("    " + x + "\n") for x in stderr.splitlines()[-5:])
        raise ConvergeError(f"{folder / name}.txt: simulator "
                            f"{describe(status, killed)}\n{tail}".rstrip())
    m = re.search(r"Performed (\d+) iterations", shown.getvalue())
    return seconds, int(m.group(1)) if m else 0


def _with_results(text, results):
    from .description import Description

    return Description(text).renumbered(1, results=results)


@dataclass
class Outcome:
    converged: bool
    results: list
    changes: list
    message: str


class _Table:
    """The running table: one row per run as it ends."""

    def __init__(self, out, far, ports):
        self.out, self.far, self.ports = out, far, ports
        head = f"{'run':>3} {'nodes':>10} {'steps':>7} {'time/s':>7}  {'largest change':<24}" \
               f"{'S11 min/GHz':>12}" + (f"{'S21 min/GHz':>12}" if ports > 1 else "")
        if far:
            head += f"{'D/dBi':>8}{'eff/%':>7}"
        self.out.write(head + "\n")
        self.out.flush()

    def row(self, n, r, ch):
        where = "-" if ch is None else f"{ch.s:.4f} |S{ch.port}1| {ch.freq / 1e9:.4g} GHz"
        text = f"{n:>3} {r.nodes:>10} {r.steps:>7} {r.seconds:>7.1f}  {where:<24}"
        for k in range(min(self.ports, 2)):
            f = minimum_frequency(r.freqs, r.s[k])
            text += f"{f / 1e9:>12.5f}" if f is not None else f"{'-':>12}"
        if self.far:
            text += f"{r.directivity:>8.2f}{r.efficiency:>7.1f}"
        self.out.write(text + "\n")
        self.out.flush()


def report_extremes(results, out):
    """Shift of each minimum over the last step, and its extrapolation."""
    names = ["S11 minimum (resonance)", "S21 minimum (notch)"]
    hs = [r.h for r in results]
    for k in range(min(2, results[-1].s.shape[0])):
        fs = [minimum_frequency(r.freqs, r.s[k]) for r in results]
        if fs[-1] is None:
            out.write(f"{names[k]}: none inside the band (the least value lies on a band edge)\n")
            continue
        line = f"{names[k]}: {fs[-1] / 1e9:.5f} GHz"
        if len(fs) >= 2 and fs[-2] is not None:
            shift = fs[-1] - fs[-2]
            line += (f", moved {shift / 1e6:+.2f} MHz ({100 * shift / fs[-2]:+.3f} %) in the "
                     f"last step")
        ex = extrapolate(fs, hs)
        if ex:
            line += f"; extrapolated {ex[0] / 1e9:.5f} GHz +- {ex[1] / 1e6:.2f} MHz"
        out.write(line + "\n")


def converge_runs(stages, binary, name, tol, max_nodes, max_runs, workdir, options, out):
    """Run the stages (text, lines, h) in turn until two agree; Outcome."""
    from .dataset import read_dataset

    from .checks import ModelError

    results, changes, table = [], [], None
    stages = iter(stages)
    for n in range(1, max_runs + 1):
        try:
            text, lines, h = next(stages)
        except ModelError as e:  # the mesher's own budget
            return Outcome(False, results, changes, f"run {n} cannot be meshed: {e}")
        nodes = node_count(lines)
        if nodes > max_nodes:
            return Outcome(False, results, changes, f"run {n} would need {nodes} nodes, beyond "
                           f"the node budget of {max_nodes} (--max-nodes)")
        folder = Path(workdir) / f"run{n}"
        seconds, steps = _run_simulator(binary, _with_results(text, f"{name}.dat"), folder, name,
                                        options)
        ds = read_dataset(folder / f"{name}.dat")
        r = Result(h, nodes, steps, seconds, ds.frequencies, ds.s,
                   ds.directivity_dbi if ds.has_radiation else None,
                   ds.efficiency if ds.has_radiation else None)
        if table is None:
            table = _Table(out, ds.has_radiation, ds.port_count)
        ch = change(results[-1], r) if results else None
        results.append(r)
        table.row(n, r, ch)
        if ch is not None:
            changes.append(ch)
            if agrees(ch, tol):
                return Outcome(True, results, changes, f"runs {n - 1} and {n} agree within "
                               f"{tol:g} in every |Sk1|")
    return Outcome(False, results, changes, f"the run budget ({max_runs} runs, --max-runs) "
                   f"ended before two runs agreed")


def _stages_description(model, text_lines, at, h0=1.0):
    lines = [list(v) for v in model.fixed_lines]
    h = h0
    while True:
        text = "".join(text_lines[:at] + _lines_text(lines) + text_lines[at + 3:])
        yield text, lines, h
        lines = split_mesh(model, lines)
        h /= 2


def _lines_text(lines):
    from .mesher import Mesh

    return Mesh(lines, None, structure_box=[(0, 0)] * 3).lines_text()


def _stages_model(model):
    """Meshes at a rising density; a density that adds under a tenth more nodes
    (the geometry, not the wavelength, sets the cells) is passed over."""
    st = model.settings
    d0 = st.density
    density, last = d0, 0
    while True:
        for _ in range(12):
            st.density = density
            try:
                mesh = model.mesh()
            finally:
                st.density = d0
            if node_count(mesh.lines) > 1.1 * last:
                break
            density *= DENSITY_STEP
        last = node_count(mesh.lines)
        yield model.description(mesh), mesh.lines, d0 / density
        density *= DENSITY_STEP


def converge_stages(stages, name, output=None, tol=0.02, max_nodes=None, max_runs=4, binary=None,
             threads=1, workdir=None, out=None, options=None) -> Outcome:
    """Run, compare, decide; write the finest description as OUTPUT and its
    results beside it (OUTPUT with .dat); print the table and the verdict.
    ``options`` (a RunOptions) passes the launcher, --pml and further simulator
    arguments to every run; without it the runs take ``threads``."""
    from .simulator import RunOptions, SimulatorError, default_binary

    out = out or sys.stdout
    try:
        options = (options or RunOptions(threads=threads)).check()
    except SimulatorError as e:
        raise ConvergeError(str(e)) from None
    binary = binary or default_binary()
    max_nodes = max_nodes or MAX_NODES
    if not (isinstance(tol, (int, float)) and math.isfinite(tol) and tol > 0):
        raise ConvergeError(f"--tol {tol}: must be a number above 0, such as 0.02")
    if not Path(binary).is_file():
        raise ConvergeError(f"{binary}: simulator not found; give it with --binary or "
                            f"FENDRIX_BINARY")
    if output is not None and not Path(output).resolve().parent.is_dir():
        raise ConvergeError(f"-o {output}: folder {Path(output).parent} does not exist; create "
                            f"it first")
    tmp = None
    if workdir is None:
        workdir = tmp = tempfile.mkdtemp(prefix="fendrix-converge-")
    texts = []

    def recorded():
        for text, lines, h in stages:
            texts.append(text)
            yield text, lines, h

    try:
        outcome = converge_runs(recorded(), binary, name, tol, max_nodes, max_runs, workdir,
                                options, out)
        if outcome.results:
            report_extremes(outcome.results, out)
            last = len(outcome.results)
            if output is not None:
                dat = Path(output).with_suffix(".dat")
                Path(output).write_bytes(_with_results(texts[last - 1], dat.name).encode("latin-1"))
                shutil.copyfile(Path(workdir) / f"run{last}" / f"{name}.dat", dat)
                out.write(f"Wrote {output} and {dat} (run {last})\n")
        if outcome.converged:
            out.write(f"Converged: {outcome.message}\n")
        else:
            last = ""
            if outcome.changes:
                ch = outcome.changes[-1]
                last = (f"; the last step still moved |S{ch.port}1| by {ch.s:.4f} at "
                        f"{ch.freq / 1e9:.4g} GHz (--tol {tol:g})")
            out.write(f"NOT converged: {outcome.message}{last}: raise --max-runs or "
                      f"--max-nodes, or accept a looser --tol\n")
        return outcome
    finally:
        if tmp is not None:
            shutil.rmtree(tmp, ignore_errors=True)


def converge_description(path, output, **kw) -> Outcome:
    from .reader import read_model

    model, lines, at = read_model(path)
    return converge_stages(_stages_description(model, lines, at), Path(path).stem, output, **kw)


def converge_model(model, output=None, **kw) -> Outcome:
    if model.fixed_lines is not None:  # a hand mesh given to the model: split it
        text = model.description()
        from .description import lf_lines

        lines = lf_lines(text)
        at = next(i for i, x in enumerate(lines) if x.startswith("xMesh "))
        return converge_stages(_stages_description(model, lines, at), model.name, output, **kw)
    return converge_stages(_stages_model(model), model.name, output, **kw)


def converge(source, output=None, **kw) -> Outcome:
    """Converge a Model, or a description file given by its path; the keyword
    options are those of converge_stages (tol, max_nodes, max_runs, binary,
    threads, workdir, out, options).  A description needs ``output``, the
    file name of its finest version."""
    from .model import Model

    if isinstance(source, Model):
        return converge_model(source, output, **kw)
    if output is None:
        raise ConvergeError(f"{source}: give output=, the file for the finest description")
    return converge_description(source, output, **kw)
