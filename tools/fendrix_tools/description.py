"""Just enough of the simulation description format to find and renumber ports.

The text is kept byte for byte (read as Latin-1, lines end with one line feed);
only the port-number field of "Electric" lines is ever rewritten.
"""

from __future__ import annotations

import re
from dataclasses import dataclass

_INT = re.compile(r"\s*[+-]?\d+")
_REAL = re.compile(r"\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
# "Electric" blank, port number (strtol-style: leading white space and a sign
# allowed), one blank, then the rest of the line.
_ELECTRIC = re.compile(r"Electric (\s*[+-]?\d+) (\s*\d+) ([^\n]*)")


def lf_lines(text: str) -> list:
    """The lines as the simulator sees them: each ends with its line feed (the
    last may lack one), and nothing else ends a line (str.splitlines would also
    split at form feeds, NEL and others that the simulator keeps in a line)."""
    return re.findall(r"[^\n]*\n|[^\n]+$", text)


class DescriptionError(ValueError):
    """The description cannot be used for a port sweep."""


@dataclass
class Port:
    number: int
    line_index: int  # index into Description.lines
    resistance: float  # |R|, or 1.0 when the line gives 'x' (no resistor)
    text: str


class Description:
    def __init__(self, text: str, path: str = "<description>"):
        self.path = path
        self.text = text
        self.lines = lf_lines(text)
        self.results_name = self._results_name()
        self.ports = self._find_ports()

    @classmethod
    def read(cls, path) -> "Description":
        with open(path, "rb") as f:
            return cls(f.read().decode("latin-1"), str(path))

    def run_line(self):
        """The words after the command of a "# run: fendrix NAME ..." comment
        line at the top, which says how the description is meant to be run;
        None without one."""
        for line in self.lines:
            if not line.startswith("#"):
                break
            if line.startswith("# run: "):
                return line[7:].split()[2:]
        return None

    def _header_end(self) -> int:
        """Index of the first element line (after comments, header and mesh)."""
        i = 0
        while i < len(self.lines) and self.lines[i].startswith("#"):
            i += 1
        i += 2  # Sim, Freq
        if i < len(self.lines) and self.lines[i].startswith("Radiation "):
            i += 1
        return i + 4  # Boundary, three mesh lines

    def _results_name(self) -> str:
        i = 0
        while i < len(self.lines) and self.lines[i].startswith("#"):
            i += 1
        if i >= len(self.lines) or not self.lines[i].startswith("Sim "):
            raise DescriptionError(f"{self.path}: no Sim line after the comments")
        line = self.lines[i]
        self._sim_index = i
        pos = 4
        for pattern in (_INT, _REAL, _INT):
            m = pattern.match(line, pos)
            if not m or line[m.end():m.end() + 1] != " ":
                raise DescriptionError(f"{self.path}: malformed Sim line")
            pos = m.end() + 1
        self._results_at = pos
        return line[pos:].rstrip("\n")

    def _find_ports(self) -> list:
        ports = []
        in_material = False
        for i in range(self._header_end(), len(self.lines)):
            line = self.lines[i]
            if in_material:
                if line.startswith("/"):
                    in_material = False
                continue
            if line.startswith("Metal ") or line.startswith("Dielectric "):
                in_material = True
                continue
            m = _ELECTRIC.match(line)
            if not m:
                if line.startswith("Electric "):
                    raise DescriptionError(f"{self.path}: line {i + 1}: malformed Electric line")
                continue
            number = int(m.group(1))
            if number < 1:
                continue  # a lumped element without port
            rest = m.group(3).lstrip()
            if rest.startswith("x"):
                resistance = 1.0
            else:
                r = _REAL.match(rest)
                if not r:
                    raise DescriptionError(f"{self.path}: line {i + 1}: no resistance")
                resistance = abs(float(r.group(0)))
            ports.append(Port(number, i, resistance, line))
        numbers = sorted(p.number for p in ports)
        if not numbers:
            raise DescriptionError(f"{self.path}: no port (Electric line with port number 1 or more)")
        if numbers != list(range(1, len(numbers) + 1)):
            raise DescriptionError(f"{self.path}: port numbers must be 1..{len(numbers)}, each "
                                   f"once; found {numbers}")
        return ports

    @property
    def port_count(self) -> int:
        return len(self.ports)

    def impedances(self) -> list:
        """|reference impedance| of ports 1..n, in port-number order."""
        return [p.resistance for p in sorted(self.ports, key=lambda p: p.number)]

    def renumbered(self, excited: int, results: str = None) -> str:
        """The description with port ``excited`` as port 1; the other ports keep
        their relative order as 2..n, and the results file name is ``results``
        when given.  Nothing else changes."""
        lines = list(self.lines)
        if results is not None:
            sim = lines[self._sim_index]
            end = "\n" if sim.endswith("\n") else ""
            lines[self._sim_index] = sim[:self._results_at] + results + end
        for port in self.ports:
            new = port_map(excited, port.number)
            m = _ELECTRIC.match(port.text)
            field = m.group(1)
            digits = field.lstrip()
            sign = digits[0] if digits[0] in "+-" else ""
            replaced = field[:len(field) - len(digits)] + sign.replace("-", "") + str(new)
            lines[port.line_index] = (port.text[:m.start(1)] + replaced + port.text[m.end(1):])
        return "".join(lines)


def port_map(excited: int, number: int) -> int:
    """New number of port ``number`` in the run that excites port ``excited``."""
    if number == excited:
        return 1
    return number + 1 if number < excited else number


def original_port(excited: int, new_number: int) -> int:
    """Inverse of port_map: which original port carries ``new_number``."""
    if new_number == 1:
        return excited
    return new_number - 1 if new_number <= excited else new_number
