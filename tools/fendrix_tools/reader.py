"""Read a whole description back into a Model (metres, hertz), for remesh and view.

Lenient where the simulator is lenient (blanks after commas, indented shape
lines); a line it would reject is reported with its line number.
"""

from __future__ import annotations

import math
import re

from .description import DescriptionError, lf_lines
from .model import BOUNDARIES, EXCITATIONS, Dielectric, Element, Metal, Model, ModelError
from .shapes import Box, Cylinder, Polygon

_NUM = r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?"


def _nums(text, path, no, least=1, what="line"):
    """The numbers of a line, at least ``least`` of them, all finite."""
    vals = [float(v) for v in re.findall(_NUM, text)]
    if len(vals) < least:
        raise DescriptionError(f"{path}: line {no}: a {what} needs {least} numbers, found "
                               f"{len(vals)}")
    if not all(math.isfinite(v) for v in vals):
        raise DescriptionError(f"{path}: line {no}: a number beyond the range of doubles")
    return vals


def read_model(path) -> tuple:
    """(Model, lines of the text, index of the x mesh line)."""
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    lines = lf_lines(text)
    m = Model("description", unit="m", frequency_unit="Hz")
    m.name = str(path)  # messages name the file
    i = 0
    while i < len(lines) and lines[i].startswith("#"):
        i += 1

    def need(prefix):
        if i >= len(lines) or not lines[i].startswith(prefix):
            raise DescriptionError(f"{path}: line {i + 1}: expected a {prefix.strip()!r} line")
        return lines[i][len(prefix):]

    try:
        sim = need("Sim ").split(" ", 3)
        m.limits(int(sim[0]), float(sim[1]), int(sim[2]))
        m.results = sim[3].rstrip("\n") if len(sim) > 3 else ""  # as it stands, folders too
        i += 1
        freq = need("Freq ").split()
        kind = {v: k for k, v in EXCITATIONS.items()}.get(freq[0], "band")
        m.excitation, m.f1, m.f2, m.points = kind, float(freq[1]), float(freq[2]), int(freq[3])
        i += 1
        if i < len(lines) and lines[i].startswith("Radiation "):
            r = lines[i].split()
            m.radiation = (float(r[1]), int(r[2]), int(r[3]), int(r[4]))
            i += 1
    except (IndexError, ValueError) as e:
        if isinstance(e, DescriptionError):
            raise
        raise DescriptionError(f"{path}: line {i + 1}: malformed {lines[i].split(' ')[0]!r} line"
                               + (f": {e}" if isinstance(e, ModelError) else "")) from None
    codes = need("Boundary").split()
    if len(codes) != 6:
        raise DescriptionError(f"{path}: line {i + 1}: a Boundary line needs six codes")
    m.boundary = [c if c in BOUNDARIES.values() else "0" for c in codes]
    i += 1
    mesh_at = i
    mesh = []
    for k in range(3):
        if i >= len(lines) or lines[i][1:6] != "Mesh ":
            raise DescriptionError(f"{path}: line {i + 1}: expected the {'xyz'[k]} mesh line")
        mesh.append(_nums(lines[i][6:], path, i + 1, 2, "mesh line"))
        i += 1
    m.fixed_lines = mesh
    m.settings.domain = [(v[0], v[-1]) for v in mesh]
    material = None
    for no in range(i, len(lines)):
        line = lines[no].rstrip("\n")
        if not line.strip():
            raise DescriptionError(f"{path}: line {no + 1}: empty line (the simulator refuses it)")
        word = line.split(" ", 1)[0] if line[:1] != " " else line.split()[0]
        args = line.split(None, 1)[1] if " " in line.strip() else ""
        try:
            if material is not None:
                if line.startswith("/"):
                    material = None
                elif word == "Cube":
                    v = _nums(args, path, no + 1, 6, "Cube line")
                    material._add(Box(v[0:3], v[3:6]), None).where = f"line {no + 1}"
                elif word == "Cylinder":
                    v = _nums(args, path, no + 1, 7, "Cylinder line")
                    material._add(Cylinder(v[0], v[1:4], v[4:7]), None).where = f"line {no + 1}"
                elif word == "Polygon":
                    v = _nums(args, path, no + 1, 8, "Polygon line")
                    if v[1] not in (0, 1, 2):
                        raise DescriptionError(f"{path}: line {no + 1}: polygon axis {v[1]:g} is "
                                               f"none of 0, 1, 2")
                    pts = list(zip(v[2::2], v[3::2]))
                    material._add(Polygon(int(v[1]), v[0], pts), None).where = f"line {no + 1}"
                else:
                    raise DescriptionError(f"{path}: line {no + 1}: unknown shape {word!r}")
            elif word == "Dielectric":
                v = _nums(args, path, no + 1, 2, "Dielectric line")
                material = Dielectric(m, f"dielectric {len(m.materials) + 1}", v[0], v[1], 0)
                m.materials.append(material)
            elif word == "Metal":
                v = _nums(args, path, no + 1, 3, "Metal line")
                rho = v[0] if v[0] > 0 and v[1] > 0 else 0.0
                material = Metal(m, f"metal {len(m.materials) + 1}", None, rho, v[1], v[2], None)
                m.materials.append(material)
            elif word == "Electric":
                f = args.split()
                num, code = int(f[0]), int(f[1])
                r = None if f[2] == "x" else float(f[2])
                c = None if f[3] == "x" else float(f[3])
                v = _nums(" ".join(f[4:]), path, no + 1, 6, "corner pair")
                name = f"port {num}" if num > 0 else f"element on line {no + 1}"
                el = Element(name, num, code & 3, v[0:3], v[3:6], r, c)
                el.code = code
                el.where = f"line {no + 1}"
                m.elements.append(el)
            else:
                raise DescriptionError(f"{path}: line {no + 1}: unknown keyword {word!r}")
        except (IndexError, ValueError) as e:
            if isinstance(e, DescriptionError):
                raise
            raise DescriptionError(f"{path}: line {no + 1}: malformed {word} line") from None
    return m, lines, mesh_at
