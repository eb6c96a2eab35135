"""The far field at several frequencies of one run (--far-field-freq): the
table NAME_farfield.csv and the results file of each extra frequency.

The simulator names the file of an extra frequency F after the results file:
``patch.dat`` at 2.45 GHz is ``patch_ff2.45GHz.dat`` (F in GHz, up to 15
significant digits), and writes one table row per far-field frequency, the
Radiation line's included, sorted by frequency:

    frequency_Hz        the frequency the far field was computed at (single precision)
    directivity_dBi     maximum directivity
    theta_deg, phi_deg  its direction: polar angle from +z, azimuth from +x
    efficiency_percent  radiated power over the power accepted at port 1
    gain_dBi            directivity x efficiency
    realized_gain_dBi   gain x (1 - |S11|^2)
    s11_dB              port 1's reflection at that frequency
    front_to_back_dB    maximum over the direction opposite to it
    hpbw_phi0_deg       half-power beamwidth in the cut phi = 0 (the x-z plane)
    hpbw_phi90_deg      half-power beamwidth in the cut phi = 90 (the y-z plane)
    dataset             the results file of that frequency
"""

from __future__ import annotations

import csv
import os
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

COLUMNS = ("frequency_Hz", "directivity_dBi", "theta_deg", "phi_deg", "efficiency_percent", "gain_dBi",
           "realized_gain_dBi", "s11_dB", "front_to_back_dB", "hpbw_phi0_deg", "hpbw_phi90_deg", "dataset")
MAX_FREQUENCIES = 64  # the simulator's limit for one run


class FarFieldTableError(ValueError):
    """A file that is not a far-field table as the simulator writes it."""


def _stem_and_extension(name: str):
    base = os.path.basename(name)
    dot = base.rfind(".")
    if dot > 0:
        return name[:len(name) - len(base) + dot], base[dot:]
    return name, ""


def extra_file_name(results_name, frequency) -> str:
    """The results file of the far field at ``frequency`` (Hz)."""
    stem, ext = _stem_and_extension(os.fspath(results_name))
    return f"{stem}_ff{'%.15g' % (float(frequency) / 1e9)}GHz{ext}"


def table_name(results_name) -> str:
    """NAME_farfield.csv beside the results file NAME.dat."""
    stem, _ = _stem_and_extension(os.fspath(results_name))
    return f"{stem}_farfield.csv"


@dataclass
class FarFieldTable:
    """The rows of one table, column by column (numpy arrays; ``dataset``
    a list of file names), sorted by frequency."""

    path: str
    columns: dict = field(default_factory=dict)

    def __getattr__(self, name):
        try:
            return self.__dict__["columns"][name]
        except KeyError:
            raise AttributeError(name) from None

    @property
    def frequencies(self) -> np.ndarray:
        return self.columns["frequency_Hz"]

    def __len__(self):
        return len(self.frequencies)

    def dataset_path(self, i) -> Path:
        """Row i's results file, beside the table."""
        return Path(self.path).parent / self.columns["dataset"][i]

    def nearest(self, frequency) -> int:
        """The row whose frequency lies nearest ``frequency`` (Hz)."""
        return int(np.argmin(np.abs(self.frequencies - frequency)))

    def row_of(self, dataset_path):
        """The row of the results file ``dataset_path``, or None."""
        name = os.path.basename(os.fspath(dataset_path))
        return next((i for i, d in enumerate(self.columns["dataset"]) if d == name), None)


def read_far_field_table(path) -> FarFieldTable:
    path = os.fspath(path)
    with open(path, newline="", encoding="latin-1") as f:
        rows = list(csv.reader(f))
    if not rows or tuple(rows[0]) != COLUMNS:
        raise FarFieldTableError(f"{path}: not a far-field table (its first line must name the columns "
                                 f"{','.join(COLUMNS)})")
    body = rows[1:]
    for n, row in enumerate(body, start=2):
        if len(row) != len(COLUMNS):
            raise FarFieldTableError(f"{path}: line {n} has {len(row)} fields, expected {len(COLUMNS)}")
    table = FarFieldTable(path)
    try:
        for k, name in enumerate(COLUMNS[:-1]):
            table.columns[name] = np.array([float(r[k]) for r in body], dtype=float)
    except ValueError as e:
        raise FarFieldTableError(f"{path}: {e}") from None
    table.columns["dataset"] = [r[-1] for r in body]
    return table


def table_beside(dataset_path):
    """The far-field table of the run that wrote ``dataset_path`` (its main
    file or an extra one), or None when there is none beside it."""
    path = Path(dataset_path)
    name = path.name
    candidates = [table_name(path)]
    stem, _ = _stem_and_extension(name)
    cut = stem.rfind("_ff")
    if cut > 0 and stem.endswith("GHz"):
        candidates.append(str(path.parent / (stem[:cut] + "_farfield.csv")))
    for c in candidates:
        if os.path.isfile(c):
            try:
                table = read_far_field_table(c)
            except (OSError, FarFieldTableError):
                continue
            if table.row_of(name) is not None:
                return table
    return None


def table_lines(table: FarFieldTable) -> list:
    """The table as readable lines for the summary."""
    lines = [f"Far field at {len(table)} frequencies ({os.path.basename(table.path)}):",
             "  " + f"{'f / GHz':>9}{'D / dBi':>9}{'theta':>7}{'phi':>7}{'eff. %':>8}{'G / dBi':>9}"
                    f"{'RG / dBi':>10}{'S11 dB':>8}{'F/B dB':>8}{'BW phi0':>9}{'BW phi90':>9}"]
    c = table.columns
    for i in range(len(table)):
        lines.append("  " + f"{c['frequency_Hz'][i] / 1e9:>9.4g}{c['directivity_dBi'][i]:>9.2f}"
                            f"{c['theta_deg'][i]:>7.1f}{c['phi_deg'][i]:>7.1f}{c['efficiency_percent'][i]:>8.1f}"
                            f"{c['gain_dBi'][i]:>9.2f}{c['realized_gain_dBi'][i]:>10.2f}{c['s11_dB'][i]:>8.2f}"
                            f"{c['front_to_back_dB'][i]:>8.2f}{c['hpbw_phi0_deg'][i]:>9.1f}"
                            f"{c['hpbw_phi90_deg'][i]:>9.1f}")
    best = int(np.nanargmax(c["realized_gain_dBi"])) if np.any(np.isfinite(c["realized_gain_dBi"])) else None
    if best is not None:
        lines.append(f"Highest realized gain: {c['realized_gain_dBi'][best]:.2f} dBi at "
                     f"{c['frequency_Hz'][best] / 1e9:.4g} GHz")
    return lines


@dataclass
class FarFieldRun:
    """What a run with more far-field frequencies wrote: the main dataset,
    the dataset of every far-field frequency (Hz, as in the table) and the
    table itself."""

    main: object
    datasets: dict
    table: FarFieldTable

    @classmethod
    def read(cls, results_path) -> "FarFieldRun":
        from .dataset import read_dataset

        table = read_far_field_table(table_name(results_path))
        datasets = {float(f): read_dataset(table.dataset_path(i)) for i, f in enumerate(table.frequencies)}
        main = datasets[float(table.frequencies[table.row_of(results_path)])]
        return cls(main, datasets, table)
