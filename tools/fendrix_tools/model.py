"""A structure in the user's units, written out as a simulation description.

    m = Model("microstrip_line", unit="mm", frequency_unit="GHz")
    m.band(2, 10, points=81)
    sub = m.dielectric("substrate", eps_r=3.38, tan_delta=0.0027)
    sub.box((-3, -8, 0), (23, 8, 0.508))
    cu = m.metal("copper", conductivity=5.8e7, thickness=0.035)
    cu.sheet((0, -0.6, 0.508), (20, 0.6, 0.508))
    m.port((0, 0, 0), (0, 0, 0.508), impedance=50)
    m.write("microstrip_line.txt")      # mesh lines placed automatically
    ds = m.run()                        # the results Dataset

Everything is converted to metres and hertz once, when it is given, and
rounded to the ten digits that the description carries, so a mesh line on a
shape edge is the very same number as the edge in the simulator.
"""

from __future__ import annotations

import copy
import math
import os
import shutil
import sys
import tempfile
from pathlib import Path

from . import mesher
from .checks import ModelError, items, label, latin1, number, text, whole
from .shapes import Box, Cylinder, Polygon, fmt, AXES

LENGTH_UNITS = {"m": 1.0, "cm": 1e-2, "mm": 1e-3, "um": 1e-6, "µm": 1e-6, "mil": 25.4e-6,
                "in": 25.4e-3}
FREQUENCY_UNITS = {"Hz": 1.0, "kHz": 1e3, "MHz": 1e6, "GHz": 1e9}
EXCITATIONS = {"baseband": "0", "wideband": "1", "band": "2", "derivative": "3"}
BOUNDARIES = {"electric": "0", "magnetic": "1", "absorbing": "2"}
FACES = ("xlow", "xhigh", "ylow", "yhigh", "zlow", "zhigh")
EPS0 = 8.85418781762e-12
MU0 = 1.256637062e-6


MIN_LENGTH, MAX_LENGTH = 1e-12, 1e6  # m: beyond, a length is a typing or unit mistake
MAX_POINTS = 100000  # the simulator's most frequency points
MAX_ANGLES = 3601  # its most azimuths or elevations
F_RANGE = (1.0, 1e15)  # Hz: the band's upper frequency; beyond, the units are wrong


def rnd(v: float) -> float:
    """The value as the description will carry it."""
    return float(fmt(v))


class Material:
    kind = ""

    def __init__(self, model: "Model", name: str):
        self.model = model
        self.name = name
        self.shapes = []

    def _add(self, shape, name):
        shape.name = name or f"{self.name} {shape.keyword.lower()} {len(self.shapes) + 1}"
        shape.material = self
        self.shapes.append(shape)
        return shape

    def _shape_name(self, name, kind):
        if name is not None:
            return label(name, f"{self.name} {kind} name")
        return f"{self.name} {kind}"

    def box(self, corner1, corner2, name=None):
        what = self._shape_name(name, "box")
        return self._add(Box(self.model._point(corner1, f"{what}: corner1"),
                             self.model._point(corner2, f"{what}: corner2")), name)

    def cylinder(self, start, end, radius, name=None):
        what = self._shape_name(name, "cylinder")
        s, e = self.model._point(start, f"{what}: start"), self.model._point(end, f"{what}: end")
        r = self.model._length(radius, f"{what}: radius")
        if r <= 0 or s == e:
            raise ModelError(f"{what}: needs a radius above 0 and two "
                             f"different end points")
        return self._add(Cylinder(r, s, e), name)

    def polygon(self, points, x=None, y=None, z=None, name=None):
        """Flat polygon in the plane x=, y= or z= (one of them); points are
        (u, v) pairs along the two other axes in cyclic order (normal z: x, y;
        normal x: y, z; normal y: z, x)."""
        what = self._shape_name(name, "polygon")
        given = [(a, v) for a, v in enumerate((x, y, z)) if v is not None]
        points = items(points, f"{what}: points")
        if len(given) != 1 or len(points) < 3:
            raise ModelError(f"{what}: give exactly one of x=, y=, z= "
                             f"and at least three points")
        axis, pos = given[0]
        pts = []
        for i, p in enumerate(points):
            u, v = items(p, f"{what}: point {i + 1}", 2)
            pts.append((rnd(self.model._length(u, f"{what}: point {i + 1}")),
                        rnd(self.model._length(v, f"{what}: point {i + 1}"))))
        pos = rnd(self.model._length(pos, f"{what}: {AXES[axis]}="))
        return self._add(Polygon(axis, pos, pts), name)

    def sheet(self, corner1, corner2, name=None):
        """Rectangular sheet between two corners that agree on exactly one axis."""
        what = self._shape_name(name, "sheet")
        a = self.model._point(corner1, f"{what}: corner1")
        b = self.model._point(corner2, f"{what}: corner2")
        flat = [k for k in range(3) if a[k] == b[k]]
        if len(flat) != 1:
            raise ModelError(f"{what}: corners {corner1} and {corner2} "
                             f"must agree on exactly one axis")
        n = flat[0]
        u, v = (n + 1) % 3, (n + 2) % 3
        pts = [(a[u], a[v]), (b[u], a[v]), (b[u], b[v]), (a[u], b[v])]
        return self._add(Polygon(n, a[n], pts), name)


class Dielectric(Material):
    kind = "dielectric"

    def __init__(self, model, name, eps_r, tan_delta, conductivity):
        super().__init__(model, name)
        eps_r = number(eps_r, f"{name}: eps_r", above=0, hint=" (relative permittivity: 1 or more for "
                       "ordinary materials)")
        tan_delta = number(tan_delta or 0.0, f"{name}: tan_delta", low=0)
        conductivity = number(conductivity or 0.0, f"{name}: conductivity", low=0,
                              hint=" (S/m; a negative loss makes the run unstable)")
        if tan_delta and conductivity:
            raise ModelError(f"{name}: give the loss as tan_delta or as conductivity, not both")
        self.eps_r, self.tan_delta, self.conductivity = eps_r, tan_delta or 0.0, conductivity or 0.0

    def line(self, f_sum: float) -> str:
        tan = self.tan_delta
        if self.conductivity:  # the simulator turns tan(delta) back into sigma at the band centre
            tan = self.conductivity / (f_sum * math.pi * EPS0 * self.eps_r)
        if not math.isfinite(tan):
            raise ModelError(f"{self.name}: conductivity {self.conductivity:g} S/m with eps_r "
                             f"{self.eps_r:g} gives a loss tangent beyond any number; a "
                             f"conductor is a metal")
        return f"Dielectric {fmt(self.eps_r)} {fmt(tan)}\n"


class Metal(Material):
    kind = "metal"

    def __init__(self, model, name, conductivity, resistivity, thickness, roughness,
                 sheet_resistance):
        super().__init__(model, name)
        if conductivity is not None:
            conductivity = number(conductivity, f"{name}: conductivity", above=0,
                                  hint=" (S/m; leave it out for a perfect conductor)")
        if resistivity is not None:
            resistivity = number(resistivity, f"{name}: resistivity", low=0)
        if conductivity and resistivity:
            raise ModelError(f"{name}: give conductivity or resistivity, not both")
        self.resistivity = 1.0 / conductivity if conductivity else (resistivity or 0.0)
        if not math.isfinite(self.resistivity):
            raise ModelError(f"{name}: conductivity {conductivity:g} S/m is too small")
        thickness = 0.0 if thickness is None else number(thickness, f"{name}: thickness", low=0)
        roughness = 0.0 if roughness is None else number(roughness, f"{name}: roughness", low=0)
        self.thickness = model._length(thickness, f"{name}: thickness", tiny=True)
        self.roughness = model._length(roughness, f"{name}: roughness", tiny=True)
        self.sheet_resistance = 0.0 if sheet_resistance is None else number(
            sheet_resistance, f"{name}: sheet_resistance", low=0, hint=" (ohms per square)")
        if self.sheet_resistance and self.resistivity:
            raise ModelError(f"{name}: give a sheet resistance or a bulk conductivity, not both")
        if self.resistivity and not self.thickness:
            raise ModelError(f"{name}: a lossy metal needs its thickness")

    def surface_resistance(self, f_sum: float) -> float:
        """Ohms per square as the simulator computes it (0: perfect conductor)."""
        if self.sheet_resistance:
            return self.sheet_resistance
        if self.resistivity <= 0 or self.thickness <= 0:
            return 0.0
        skin = math.sqrt(self.resistivity / (f_sum * 1.9739208811039306e-06))
        t = min(self.thickness, skin)
        r = self.roughness / skin
        rho = self.resistivity * (1 + 2 / math.pi * math.atan(1.4 * r * r))  # r * r: inf, no overflow
        return rho / t

    def line(self, f_sum: float) -> str:
        if self.sheet_resistance:
            # a film far thinner than the skin depth keeps rho/t as given
            t = min(1e-6, 0.01 * self.sheet_resistance / (math.pi * MU0 * f_sum / 2))
            return f"Metal {fmt(self.sheet_resistance * t)} {fmt(t)} 0\n"
        if self.resistivity <= 0:
            return "Metal 0 0 0\n"
        return f"Metal {fmt(self.resistivity)} {fmt(self.thickness)} {fmt(self.roughness)}\n"


class Element:
    """A lumped element or port between two corners (metres), along `axis`."""

    def __init__(self, name, number, axis, lo, hi, resistance, capacitance):
        self.name, self.number, self.axis = name, number, axis
        self.lo = tuple(min(a, b) for a, b in zip(lo, hi))
        self.hi = tuple(max(a, b) for a, b in zip(lo, hi))
        self.resistance, self.capacitance = resistance, capacitance

    def bbox(self):
        return self.lo, self.hi

    def line(self) -> str:
        r = "x" if self.resistance is None else fmt(self.resistance)
        c = "x" if self.capacitance is None else fmt(self.capacitance)
        p1 = ",".join(fmt(v) for v in self.lo)
        p2 = ",".join(fmt(v) for v in self.hi)
        code = getattr(self, "code", self.axis)  # 4..6: the opposite port orientation
        return f"Electric {self.number} {code} {r} {c} {p1} {p2}\n"


class Model:
    def __init__(self, name: str = "model", unit: str = "mm", frequency_unit: str = "GHz"):
        if not isinstance(unit, str) or not isinstance(frequency_unit, str) \
                or unit not in LENGTH_UNITS or frequency_unit not in FREQUENCY_UNITS:
            raise ModelError(f"unknown unit {unit!r} or {frequency_unit!r}; lengths: "
                             f"{', '.join(LENGTH_UNITS)}; frequencies: "
                             f"{', '.join(FREQUENCY_UNITS)}")
        self.name = text(name, "model name", allow_slash=False)  # also the files' names
        self.scale, self.fscale = LENGTH_UNITS[unit], FREQUENCY_UNITS[frequency_unit]
        self.results = f"{name}.dat"
        self.time_factor, self.energy, self.samples = 20, 1e-4, 4
        self.excitation, self.f1, self.f2, self.points = None, None, None, None
        self.radiation = None  # (frequency, azimuths, elevations, margin)
        self.far_field_frequencies = None  # Hz: more far-field frequencies for every run
        self.boundary = ["2"] * 6
        self.pml = None  # cells of the matched layer on the absorbing faces; None: first-order
        self.materials, self.elements = [], []
        self.settings = mesher.Settings()
        self.fixed_lines = None  # three lists of metres: use these instead of meshing
        self.comments = []

    # --- units -------------------------------------------------------------
    def _length(self, v, what="length", tiny=False) -> float:
        """User units to metres; ``what`` names the argument in a message.
        ``tiny`` lets a length below a picometre pass (film thicknesses)."""
        m = number(v, what) * self.scale
        if not abs(m) <= MAX_LENGTH:
            raise ModelError(f"{what}: {v!r} is beyond {MAX_LENGTH:g} m; check the unit")
        if 0 < abs(m) < MIN_LENGTH and not tiny:
            raise ModelError(f"{what}: {v!r} is below a picometre; give 0 or check the unit")
        return m

    def _point(self, p, what="point") -> tuple:
        coords = items(p, f"{what} {p!r}")
        if len(coords) != 3:
            raise ModelError(f"{what} {p!r}: needs three coordinates")
        return tuple(rnd(self._length(v, f"{what} {p!r}")) for v in coords)

    def _frequency(self, f, what) -> float:
        hz = number(f, what, low=0) * self.fscale
        if hz > F_RANGE[1]:
            raise ModelError(f"{what}: {f!r} is above {F_RANGE[1]:g} Hz; check the frequency unit")
        return rnd(hz)

    # --- header ------------------------------------------------------------
    def comment(self, text_: str):
        if not isinstance(text_, str):
            raise ModelError(f"comment: {text_!r} is not a text")
        latin1(text_, f"comment {text_!r}:")
        if any(ord(ch) < 32 and ch not in "\t\n" or 127 <= ord(ch) < 160 for ch in text_):
            raise ModelError(f"comment {text_!r}: holds a control character; only tabs and line "
                             "feeds are kept")
        lines = text_.split("\n")
        if lines[-1] == "":  # as splitlines: a final line feed ends the last line
            lines.pop()
        self.comments.extend(lines)

    def band(self, f1, f2, points=101, excitation="band"):
        if not isinstance(excitation, str) or excitation not in EXCITATIONS:
            raise ModelError(f"band: excitation {excitation!r} is none of {', '.join(EXCITATIONS)}")
        lo, hi = self._frequency(f1, "band: f1"), self._frequency(f2, "band: f2")
        n = whole(points, "band: points", 2, MAX_POINTS)
        if not lo < hi:
            raise ModelError(f"band: need 0 <= f1 < f2, got {f1}, {f2}")
        if hi < F_RANGE[0]:
            raise ModelError(f"band: f2 {f2} is below {F_RANGE[0]:g} Hz; check the frequency unit")
        self.excitation = excitation
        self.f1, self.f2, self.points = lo, hi, n

    def limits(self, pulses=None, energy=None, samples=None, results=None):
        """Run limit in pulse lengths (0: none), energy decay threshold,
        samples per Nyquist interval, results file name."""
        if pulses is not None:
            self.time_factor = whole(pulses, "limits: pulses", 0, 2 ** 32 - 1,
                                     hint=" (run limit in pulse lengths; 0: none)")
        if energy is not None:
            self.energy = number(energy, "limits: energy", low=0, high=1,
                                 hint=" (the fraction of the peak energy at which the run stops, "
                                      "such as 1e-4)")
        if samples is not None:
            self.samples = whole(samples, "limits: samples", 1, 2 ** 32 - 1)
        if results is not None:
            self.results = text(results, "limits: results", allow_slash=False)

    def boundaries(self, default=None, **faces):
        """boundaries("absorbing", zlow="electric"); x=, y=, z= set both faces."""
        if default is not None:
            faces = {**{f: default for f in FACES}, **faces}
        for key, kind in faces.items():
            names = [key] if key in FACES else [key + "low", key + "high"] if key in "xyz" else []
            if not names or not isinstance(kind, str) or kind not in BOUNDARIES:
                raise ModelError(f"boundary {key}={kind!r}: faces are {', '.join(FACES)} (or x, y, "
                                 f"z), kinds {', '.join(BOUNDARIES)}")
            for n in names:
                self.boundary[FACES.index(n)] = BOUNDARIES[kind]

    def absorber(self, kind="first-order", cells=8):
        """What the absorbing faces are: "first-order" (the default) or "pml",
        a perfectly matched layer of ``cells`` cells (4 to 32).  The mesh gets
        the layer's cells beyond the air margin, and runs pass --pml."""
        if kind == "first-order":
            self.pml = None
        elif kind == "pml":
            self.pml = whole(cells, "absorber: cells", 4, 32,
                             hint=" (cells of the matched layer; 8 is usual)")
        else:
            raise ModelError(f"absorber {kind!r}: use 'first-order' or 'pml'")

    def layer_cells(self, face) -> int:
        """Cells of the matched layer at a face (index into FACES), 0 for none."""
        return self.pml if self.pml and self.boundary[face] == "2" else 0

    def far_field(self, frequency, azimuths=73, elevations=37, margin=4, frequencies=None):
        """The Radiation line at ``frequency``; ``frequencies`` (in the model's
        unit, up to 64) asks every run for the far field at those frequencies
        too (the simulator's --far-field-freq): run() then returns a
        FarFieldRun with one dataset per frequency and the table."""
        f = self._frequency(frequency, "far field: frequency")
        if f <= 0:
            raise ModelError(f"far field: frequency {frequency!r} must be above 0")
        extra = None
        if frequencies is not None:
            extra = [self._frequency(x, "far field: frequencies") for x in items(frequencies, "far field: frequencies")]
            if not extra or len(extra) > 64 or min(extra) <= 0:
                raise ModelError(f"far field: frequencies {frequencies!r}: give 1 to 64 frequencies above 0")
            if len(set(extra)) < len(extra):
                raise ModelError(f"far field: frequencies {frequencies!r}: a frequency is listed twice; "
                                 "list each once")
        self.far_field_frequencies = extra
        self.radiation = (f, whole(azimuths, "far field: azimuths", 2, MAX_ANGLES),
                          whole(elevations, "far field: elevations", 2, MAX_ANGLES),
                          whole(margin, "far field: margin", 0, 1000,
                                hint=" (cells between the border, or a matched layer's inner "
                                     "edge, and the Huygens box)"))

    # --- materials and elements -------------------------------------------
    def dielectric(self, name, eps_r, tan_delta=0.0, conductivity=0.0) -> Dielectric:
        m = Dielectric(self, label(name, "dielectric name"), eps_r, tan_delta, conductivity)
        self.materials.append(m)
        return m

    def metal(self, name="metal", conductivity=None, resistivity=None, thickness=None,
              roughness=None, sheet_resistance=None) -> Metal:
        """Perfect conductor unless a conductivity (S/m) or resistivity (ohm m)
        with thickness, or a sheet resistance (ohm per square), is given."""
        m = Metal(self, label(name, "metal name"), conductivity, resistivity, thickness, roughness,
                  sheet_resistance)
        self.materials.append(m)
        return m

    def _element(self, kind, start, end, axis, number_, r, c, name):
        if name is not None:
            name = label(name, f"{kind} name")
        name = name or (f"port {number_}" if number_ > 0 else
                        f"{kind} {sum(1 for e in self.elements if e.number <= 0) + 1}")
        lo, hi = self._point(start, f"{name}: start"), self._point(end, f"{name}: end")
        if axis is None:
            differ = [k for k in range(3) if lo[k] != hi[k]]
            if len(differ) != 1:
                what = "zero length" if not differ else \
                    "its box spans " + ", ".join(AXES[k] for k in differ)
                raise ModelError(f"{name}: {what}; give the end points along one axis or "
                                 f"axis='x'|'y'|'z'")
            axis = differ[0]
        elif isinstance(axis, str) and axis in ("x", "y", "z"):
            axis = AXES.index(axis)
        elif isinstance(axis, bool) or axis not in (0, 1, 2):
            raise ModelError(f"{name}: axis {axis!r} is none of 'x', 'y', 'z' (or 0, 1, 2)")
        el = Element(name, number_, int(axis), lo, hi, r, c)
        self.elements.append(el)
        return el

    def port(self, start, end, impedance=50.0, axis=None, name=None) -> Element:
        """Next port (1, 2, ...; port 1 is driven) from start to end."""
        n = 1 + sum(1 for e in self.elements if e.number > 0)
        z = number(impedance, f"port {n}: impedance", above=0, hint=" (ohms, such as 50)")
        return self._element("port", start, end, axis, n, rnd(z), None, name)

    def resistor(self, start, end, ohms, axis=None, name=None) -> Element:
        r = number(ohms, "resistor: ohms", above=0, hint=" (a short is a metal shape)")
        return self._element("resistor", start, end, axis, 0, rnd(r), None, name)

    def capacitor(self, start, end, farads, axis=None, name=None) -> Element:
        c = number(farads, "capacitor: farads", above=0)
        return self._element("capacitor", start, end, axis, 0, None, rnd(c), name)

    def lumped(self, start, end, ohms=None, farads=None, axis=None, name=None) -> Element:
        if ohms is None and farads is None:
            raise ModelError(f"{name or 'element'}: give ohms, farads or both")
        r = None if ohms is None else rnd(number(ohms, "element: ohms", above=0))
        c = None if farads is None else rnd(number(farads, "element: farads", above=0))
        return self._element("element", start, end, axis, 0, r, c, name)

    # --- mesh -----------------------------------------------------------------
    def mesh_settings(self, **kw):
        """cells_per_wavelength (20), ratio (1.5), thin_cells (3), margin (user
        units; default a quarter wavelength at the band centre), density (1),
        thirds (True), max_nodes (the simulator's limit for one process)."""
        for k, v in kw.items():
            v = mesher.check_setting(k, v)
            if k == "margin" and v is not None:
                v = self._length(v, "mesh setting margin")
            setattr(self.settings, k, v)

    def domain(self, x=None, y=None, z=None):
        """Fix the domain along an axis (user units); other axes are automatic."""
        for k, r in enumerate((x, y, z)):
            if r is not None:
                what = f"domain {AXES[k]}={r!r}"
                lo, hi = items(r, what, 2)
                lo, hi = rnd(self._length(lo, what)), rnd(self._length(hi, what))
                if not lo < hi:
                    raise ModelError(f"{what}: needs (low, high) with low < high")
                self.settings.domain[k] = (lo, hi)

    def extra_lines(self, x=(), y=(), z=()):
        for k, vals in enumerate((x, y, z)):
            what = f"extra_lines {AXES[k]}="
            self.settings.extra[k].extend([rnd(self._length(v, what))
                                           for v in items(vals, what)])

    def refine(self, corner1, corner2, cell):
        """No cell larger than `cell` inside the box between the corners."""
        c1, c2 = self._point(corner1, "refine: corner1"), self._point(corner2, "refine: corner2")
        h = self._length(number(cell, "refine: cell", above=0), "refine: cell")
        if h <= 0:
            raise ModelError(f"refine: cell {cell!r} is too small")
        self.settings.refine.append((tuple(map(min, c1, c2)), tuple(map(max, c1, c2)), h))

    def shapes(self):
        return [s for m in self.materials for s in m.shapes]

    def max_frequency(self) -> float:
        return {"baseband": 1.8, "wideband": 1.5}.get(self.excitation, 1.0) * self.f2

    def mesh(self) -> "mesher.Mesh":
        self.check()
        if self.fixed_lines is not None:
            mesh = mesher.Mesh([list(v) for v in self.fixed_lines], self)
        else:
            mesh = mesher.make_mesh(self)
        self._check_meshed(mesh)
        return mesh

    # --- checks ---------------------------------------------------------------
    def check(self):
        if self.f2 is None:
            raise ModelError(f"{self.name}: no band; call band(f1, f2, points)")
        ports = [e for e in self.elements if e.number > 0]
        if not ports:
            raise ModelError(f"{self.name}: no port; call port(start, end, impedance)")
        lossy = {}
        f_sum = self.f1 + self.f2
        for m in self.materials:
            if isinstance(m, Metal) and m.surface_resistance(f_sum) > 0:
                lossy[m.name] = m.surface_resistance(f_sum)
        if len({round(v, 12) for v in lossy.values()}) > 1:
            raise ModelError(f"metals {', '.join(lossy)}: the simulator has one surface resistance "
                             f"for all metals; give them the same conductivity and thickness")
        if self.radiation and not 0 < self.radiation[0] <= self.f2:
            raise ModelError(f"far field: frequency {self.radiation[0]:g} Hz outside "
                             f"0..{self.f2:g} Hz")
        for e in self.elements:
            if e.lo[e.axis] == e.hi[e.axis]:
                raise ModelError(f"{e.name}: zero length along {AXES[e.axis]}")
            if e.number > 0 and not self._touches_metal(e):
                raise ModelError(f"{e.name}: touches no metal at either end (from "
                                 f"{self._user(e.lo)} to {self._user(e.hi)})")
        dom = self.settings.domain
        for s in self.shapes() + self.elements:
            lo, hi = s.bbox()
            for k in range(3):
                if dom[k] and (lo[k] < dom[k][0] - 1e-12 or hi[k] > dom[k][1] + 1e-12):
                    raise ModelError(f"{s.name}: reaches outside the domain along {AXES[k]} "
                                     f"({lo[k] / self.scale:g}..{hi[k] / self.scale:g} beyond "
                                     f"{dom[k][0] / self.scale:g}..{dom[k][1] / self.scale:g})")

    def _user(self, p):
        return "(" + ", ".join(f"{v / self.scale:g}" for v in p) + ")"

    def _touches_metal(self, e) -> bool:
        """An end plate of the element lies on a metal shape or an electric wall."""
        d = e.axis
        for end in (e.lo, e.hi):
            probe = list((a + b) / 2 for a, b in zip(e.lo, e.hi))
            probe[d] = end[d]
            for m in self.materials:
                if isinstance(m, Metal) and any(s.contains(probe) for s in m.shapes):
                    return True
            dom = self.settings.domain[d]
            for side in (0, 1):
                if self.boundary[2 * d + side] == "0" and dom and dom[side] == end[d]:
                    return True
            if self.settings.domain[d] is None:
                # an electric face that bounds the structure serves as ground
                items = self.shapes() + self.elements
                if self.boundary[2 * d] == "0" and end[d] <= min(s.bbox()[0][d] for s in items):
                    return True
                if self.boundary[2 * d + 1] == "0" and end[d] >= max(s.bbox()[1][d] for s in items):
                    return True
        return False

    def _check_meshed(self, mesh):
        for e in self.elements:
            i = [mesh.nearest(e.axis, e.lo[e.axis]), mesh.nearest(e.axis, e.hi[e.axis])]
            if i[0] == i[1]:
                raise ModelError(f"{e.name}: both ends fall on the same mesh line along "
                                 f"{AXES[e.axis]} (zero length on the grid)")
        if self.radiation:
            m = max(self.radiation_margin(), 2)
            for k in range(3):
                lines = mesh.lines[k]
                lo, hi = mesh.structure_box[k]
                if len(lines) < 2 * m + 1 or not (lines[m - 1] < lo and hi < lines[-m]):
                    raise ModelError(f"far field: the Huygens box ({m} cells in from the border) "
                                     f"does not enclose the structure along {AXES[k]}; give more "
                                     f"air or a smaller margin")

    def radiation_margin(self) -> int:
        """The Radiation line's margin: cells from the grid border, so with a
        matched layer the given margin (2 at least) plus the layer's cells, as
        the given margin counts from the layer's inner edge."""
        if self.pml:
            return max(self.radiation[3], 2) + self.pml
        return self.radiation[3]

    # --- output ---------------------------------------------------------------
    def run_options(self, **kw):
        """The simulator's options for a run of this model: its matched layer,
        and the repeatable end unless repeatable=False."""
        from .simulator import RunOptions

        if self.radiation and self.far_field_frequencies:
            kw.setdefault("far_field_frequencies", list(self.far_field_frequencies))
        return RunOptions(pml=self.pml, **kw).check()

    def description(self, mesh=None, file_name=None) -> str:
        mesh = mesh or self.mesh()
        f_sum = self.f1 + self.f2
        out = [f"# {c}\n" for c in self.comments]
        if self.pml:  # how the description is meant to be run; sweep reads it back
            name = file_name or f"{self.name}.txt"
            args = " ".join(self.run_options(verbose=None).arguments())
            out.append(f"# run: fendrix {name} {args}\n")
        out.append(f"Sim {self.time_factor} {fmt(self.energy)} {self.samples} {self.results}\n")
        out.append(f"Freq {EXCITATIONS[self.excitation]} {fmt(self.f1)} {fmt(self.f2)} "
                   f"{self.points}\n")
        if self.radiation:
            f, az, el, _ = self.radiation
            out.append(f"Radiation {fmt(f)} {az} {el} {self.radiation_margin()}\n")
        out.append("Boundary " + " ".join(self.boundary) + "\n")
        out.extend(mesh.lines_text())
        through = self.pml and self.fixed_lines is None
        for m in self.materials:
            out.append(m.line(f_sum))
            out.extend(self._through_layers(s, mesh).line() if through else s.line()
                       for s in m.shapes)
            out.append("/\n")
        out.extend(e.line() for e in self.elements)
        return "".join(out)

    def _through_layers(self, shape, mesh):
        """The shape as written: one that reaches a matched layer's inner edge
        (a substrate or a line running into the face) continues through the
        layer to the grid border, so that the layer matches the material that
        meets it, as a face with the first-order absorber sees it go on."""
        inner, outer = [], []
        for k in range(3):
            lines, lo, hi = mesh.lines[k], self.layer_cells(2 * k), self.layer_cells(2 * k + 1)
            inner.append((lines[lo] if lo else -math.inf, lines[-1 - hi] if hi else math.inf))
            outer.append((lines[0], lines[-1]))

        def low(v, k):
            return outer[k][0] if v <= inner[k][0] else v

        def high(v, k):
            return outer[k][1] if v >= inner[k][1] else v

        c = copy.copy(shape)
        if isinstance(shape, Box):
            c.lo = tuple(low(v, k) for k, v in enumerate(shape.lo))
            c.hi = tuple(high(v, k) for k, v in enumerate(shape.hi))
        elif isinstance(shape, Polygon):
            u, v = shape.uv_axes()
            c.points = [(high(low(a, u), u), high(low(b, v), v)) for a, b in shape.points]
        elif isinstance(shape, Cylinder) and shape.axis() is not None:
            k = shape.axis()
            ends = [list(shape.start), list(shape.end)]
            a, b = sorted(ends, key=lambda e: e[k])
            a[k], b[k] = low(a[k], k), high(b[k], k)
            c.start, c.end = tuple(ends[0]), tuple(ends[1])
        return c

    def write(self, path, report=True, out=None) -> "mesher.Mesh":
        mesh = self.mesh()
        Path(path).write_bytes(self.description(mesh, Path(path).name).encode("latin-1"))
        if report:
            (out or sys.stdout).write(mesh.report() + f"Wrote {path}\n")
        return mesh

    def run(self, workdir=None, threads=1, binary=None, verbose=0, keep=False, repeatable=True,
            launcher=None, extra=()):
        """Write the description into workdir (default: a temporary folder,
        removed afterwards unless keep), run the simulator there and return
        the results Dataset.  The run ends at the same step on every machine
        (-r) unless repeatable=False, has the model's matched layer, and takes
        the ``extra`` simulator arguments as they are; ``launcher`` is a
        command prefix such as "mpirun -np 2".  With far_field(...,
        frequencies=[...]) it returns a FarFieldRun instead: ``main`` (this
        Dataset), ``datasets`` (far-field frequency in Hz -> Dataset, the
        Radiation line's included) and ``table`` (farfield.FarFieldTable)."""
        from .dataset import read_dataset
        from .exit_status import describe
        from .simulator import SimulatorError, default_binary, run

        options = self.run_options(threads=threads, repeatable=repeatable, launcher=launcher,
                                   verbose=verbose, extra=list(extra))
        binary = binary or default_binary()
        tmp = None
        if workdir is None:
            workdir = tmp = tempfile.mkdtemp(prefix="fendrix-model-")
        workdir = Path(workdir)
        workdir.mkdir(parents=True, exist_ok=True)
        try:
            path = workdir / f"{self.name}.txt"
            self.write(path)
            rc, killed_by, _ = run(binary, path.name, workdir, options)
            if rc != 0:
                raise SimulatorError(f"{self.name}: simulator {describe(rc, killed_by)}")
            if options.far_field_frequencies:
                from .farfield import FarFieldRun

                return FarFieldRun.read(workdir / self.results)
            return read_dataset(workdir / self.results)
        finally:
            if tmp is not None and not keep:
                shutil.rmtree(tmp, ignore_errors=True)

    def converge(self, tol=0.02, output=None, max_nodes=None, max_runs=4, binary=None, threads=1,
                 workdir=None, out=None):
        """Rerun at a rising mesher density (a fixed hand mesh: every cell split)
        until two runs agree within tol in every |Sk1|; see converge.py.
        Returns the outcome (converged, results, changes, message)."""
        from .converge import converge_model

        return converge_model(self, output, tol=tol, max_nodes=max_nodes, max_runs=max_runs,
                              binary=binary, threads=threads, workdir=workdir, out=out)


def example_main(model: Model, argv=None, sweep=False):
    """What each script in examples/ does: write NAME.txt next to the script;
    with --run also simulate it into examples/runs/NAME/ and write the
    summary, the plots and (with several ports) the Touchstone file."""
    import time

    argv = sys.argv[1:] if argv is None else argv
    here = Path(sys.argv[0]).resolve().parent
    start = time.time()
    model.write(here / f"{model.name}.txt")
    if "--run" not in argv:
        return 0
    from .plot import plot_dataset, plot_touchstone
    from .summary import summarize
    from .simulator import default_binary
    from .sweep import sweep as run_sweep

    threads = int(os.environ.get("THREADS", "1"))
    workdir = here / "runs" / model.name
    if sweep:
        n = sum(1 for e in model.elements if e.number > 0)
        out = workdir / f"{model.name}.s{n}p"
        workdir.mkdir(parents=True, exist_ok=True)
        run_sweep(here / f"{model.name}.txt", default_binary(), output=out, workdir=workdir,
                  threads=threads)
        ds_path = workdir / "port1" / model.results
        written = plot_touchstone(out, workdir)
    else:
        ds = model.run(workdir, threads=threads)
        ds_path = workdir / model.results
        written = []
    from .dataset import read_dataset

    ds = read_dataset(ds_path)
    written += plot_dataset(ds, workdir)
    sys.stdout.write(summarize(ds))
    for p in written:
        print(f"Wrote {p}")
    print(f"{model.name}: script to results in {time.time() - start:.0f} s")
    return 0
