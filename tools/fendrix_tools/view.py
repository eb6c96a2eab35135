"""Draw a description as the simulator will see it: a top view and two side
views with the materials filled, metals and ports marked, the mesh lines over
them, and every shape edge or port end that lies off the mesh in red."""

from __future__ import annotations

from pathlib import Path

from .meshcheck import report_lines
from .mesher import Mesh
from .reader import read_model
from .shapes import AXES, Cylinder, Polygon, metal_sheet

VIEWS = ((0, 1, "top (x-y)"), (0, 2, "side (x-z)"), (1, 2, "side (y-z)"))
METAL, PORT, ELEMENT, OFF = "#b87333", "#d62728", "#7b3294", "#ff0000"
FILLS = ("#a6cee3", "#b2df8a", "#fdbf6f", "#cab2d6", "#ffff99", "#8dd3c7")


def on_grid(lines, c, side=0) -> bool:
    """c lies on a mesh line, or (a free metal edge, metal towards `side`) a
    third of a cell from the line inside the metal."""
    below = [x for x in lines if x <= c]
    above = [x for x in lines if x >= c]
    if not below or not above:
        return False
    l0, l1 = below[-1], above[0]
    if l1 == l0 or min(c - l0, l1 - c) <= 1e-6 * (l1 - l0):
        return True
    f = (c - l0) / (l1 - l0)
    return side != 0 and abs(f - (2 / 3 if side > 0 else 1 / 3)) < 0.1


def off_grid(model, mesh) -> list:
    """(object name, axis, coordinate) of every edge and port end off the mesh."""
    out = []
    for s in model.shapes():
        sheet = metal_sheet(s)
        for k in range(3):
            for c, side in s.edges(k):
                if not on_grid(mesh.lines[k], c, side if sheet else 0):
                    out.append((s.name, k, c))
    for e in model.elements:
        for k in range(3):
            for c in {e.lo[k], e.hi[k]}:
                if not on_grid(mesh.lines[k], c):
                    out.append((e.name, k, c))
    return sorted(set(out), key=lambda t: (t[0], t[1], t[2]))


def _draw_shape(ax, s, h, v, colour, alpha, label, mm):
    import matplotlib.patches as mp

    d = 3 - h - v
    lo, hi = [tuple(x * mm for x in p) for p in s.bbox()]
    if isinstance(s, Polygon) and s.axis == d:
        u = (d + 1) % 3
        pts = [(p[0] * mm, p[1] * mm) if u == h else (p[1] * mm, p[0] * mm) for p in s.points]
        ax.add_patch(mp.Polygon(pts, closed=True, fc=colour, ec="k", lw=0.6, alpha=alpha,
                                label=label))
    elif isinstance(s, Cylinder) and s.axis() == d:
        ax.add_patch(mp.Circle((s.start[h] * mm, s.start[v] * mm), s.radius * mm, fc=colour,
                               ec="k", lw=0.6, alpha=alpha, label=label))
    elif lo[h] == hi[h] or lo[v] == hi[v]:  # a sheet seen edge-on
        ax.plot([lo[h], hi[h]], [lo[v], hi[v]], color=colour, lw=2.5, solid_capstyle="butt",
                label=label)
    else:
        ax.add_patch(mp.Rectangle((lo[h], lo[v]), hi[h] - lo[h], hi[v] - lo[v], fc=colour, ec="k",
                                  lw=0.6, alpha=alpha, label=label))


def draw(model, mesh, path, title=None):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    bad = off_grid(model, mesh)
    fig, axes = plt.subplots(1, 3, figsize=(17, 6.2))
    mm = 1e3  # drawn in millimetres
    shapes = model.shapes()
    fills = {m.name: FILLS[i % len(FILLS)] for i, m in
             enumerate(x for x in model.materials if x.kind == "dielectric")}
    ext = mesh.structure_box
    for ax, (h, v, name) in zip(axes, VIEWS):
        d = 3 - h - v
        seen = set()
        # painter's order: what lies deeper along the viewing axis first
        order = sorted(shapes, key=lambda s: (s.bbox()[1][d] + s.bbox()[0][d]) / 2)
        tiers = sorted({s.bbox()[1][d] for s in order if s.material.kind == "metal"})
        for s in order:
            m = s.material
            lab = None if m.name in seen else (f"{m.name} (er {m.eps_r:g})"
                                               if m.kind == "dielectric" else m.name)
            seen.add(m.name)
            if m.kind == "dielectric":
                _draw_shape(ax, s, h, v, fills[m.name], 0.45, lab, mm)
            else:  # deeper metal layers darker, so stacked sheets stay apart
                tone = tiers.index(s.bbox()[1][d]) / max(1, len(tiers) - 1)
                colour = (0.45 + 0.35 * tone, 0.28 + 0.25 * tone, 0.12 + 0.1 * tone)
                _draw_shape(ax, s, h, v, colour, 0.85, lab, mm)
        for x in mesh.lines[h]:
            ax.axvline(x * mm, color="0.45", lw=0.3, zorder=3)
        for y in mesh.lines[v]:
            ax.axhline(y * mm, color="0.45", lw=0.3, zorder=3)
        for e in model.elements:
            colour = PORT if e.number > 0 else ELEMENT
            ax.plot([e.lo[h] * mm, e.hi[h] * mm], [e.lo[v] * mm, e.hi[v] * mm], color=colour,
                    lw=2.5, zorder=5, marker="o", ms=3)
            ax.annotate(f"P{e.number}" if e.number > 0 else e.name, (e.hi[h] * mm, e.hi[v] * mm),
                        color=colour, fontsize=8, zorder=6, xytext=(3, 3),
                        textcoords="offset points")
        for obj, k, c in bad:
            if k == h:
                ax.axvline(c * mm, color=OFF, lw=1.2, ls="--", zorder=4)
            elif k == v:
                ax.axhline(c * mm, color=OFF, lw=1.2, ls="--", zorder=4)
        ax.set_xlim(mesh.lines[h][0] * mm, mesh.lines[h][-1] * mm)
        lo, hi = mesh.lines[v][0], mesh.lines[v][-1]
        zoom = v == 2 and (ext[2][1] - ext[2][0]) < 0.2 * (hi - lo)
        if zoom:  # a flat structure: show the layers, not the air above them
            pad = max(2 * (ext[2][1] - ext[2][0]), 0.05 * (hi - lo))
            lo, hi = max(lo, ext[2][0] - pad), min(hi, ext[2][1] + pad)
        ax.set_ylim(lo * mm, hi * mm)
        ax.set_xlabel(f"{AXES[h]} (mm)")
        ax.set_ylabel(f"{AXES[v]} (mm)")
        ax.set_title(name + (", z zoomed to the structure" if zoom else ""), fontsize=10)
    axes[0].set_aspect("equal", adjustable="box")
    handles, labels = axes[0].get_legend_handles_labels()
    n = [len(x) for x in mesh.lines]
    head = (f"{title or model.name}: {n[0]} x {n[1]} x {n[2]} mesh lines; "
            + (f"{len(bad)} edge(s) off the mesh (red dashes)" if bad
               else "every edge on the mesh"))
    fig.suptitle(head, fontsize=11)
    if handles:
        fig.legend(handles, labels, loc="lower center", ncol=min(len(labels), 6), fontsize=8)
    fig.tight_layout(rect=(0, 0.06, 1, 0.95))
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return bad


def view(description, output) -> list:
    """Draw a description file; returns the off-grid list (also printed)."""
    model, _, _ = read_model(description)
    mesh = Mesh(model.fixed_lines, model)
    bad = draw(model, mesh, output, title=Path(description).name)
    for obj, k, c in bad:
        print(f"off the mesh: {obj}: {AXES[k]} = {c:g} m")
    print(report_lines(model, mesh), end="")
    print(f"Wrote {output}")
    return bad
