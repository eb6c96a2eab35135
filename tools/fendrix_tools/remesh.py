"""Replace the three mesh lines of a description with automatic ones.

Everything else stays byte for byte; the domain keeps the extent of the old
mesh (a substrate that ran into an absorbing face still does).
"""

from __future__ import annotations

import sys
from pathlib import Path

from .mesher import check_setting
from .reader import read_model


def remesh(description, output, out=None, **settings) -> "object":
    out = out or sys.stdout
    model, lines, at = read_model(description)
    model.fixed_lines = None
    for k, v in settings.items():
        if v is not None:
            setattr(model.settings, k, check_setting(k, v))
    mesh = model.mesh()
    text = "".join(lines[:at] + mesh.lines_text() + lines[at + 3:])
    Path(output).write_bytes(text.encode("latin-1"))
    old = [len(v) for v in read_model(description)[0].fixed_lines]
    out.write(f"Old mesh: {old[0]} x {old[1]} x {old[2]} lines\n" + mesh.report()
              + f"Wrote {output}\n")
    return mesh
