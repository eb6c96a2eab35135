"""Full scattering matrix from one simulator run per port.

Each run excites one port: the description is copied with that port
renumbered as port 1 and the remaining ports, in their original order, as
2..n.  The dataset of the run then holds one column of the matrix.  Every
coefficient already refers to its own port's reference impedance, so the
columns fit together without conversion.
"""

from __future__ import annotations

import contextlib
import math
import os
import shutil
import signal
import sys
import tempfile
import threading
from concurrent.futures import FIRST_EXCEPTION, ThreadPoolExecutor, wait
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from .circuit import matrix_warning
from .dataset import DatasetError, read_dataset
from .description import Description, original_port
from .exit_status import describe
from .simulator import (DEFAULT_PML, PML_CELLS, Children, RunOptions, RunStopped,
                        SimulatorError, default_binary, launcher_words, run, write)
from .touchstone import FORMATS, renormalize, touchstone_suffix, write_touchstone


SweepError = SimulatorError  # a sweep's failures are its runs' and its options'
SweepStopped = RunStopped


@dataclass
class SweepResult:
    frequencies: np.ndarray
    s: np.ndarray  # (frequencies, n, n), each port referred to its own impedance
    impedances: list  # |Z| per port
    datasets: list  # dataset path of each run, port order


def assemble(columns: list, n: int) -> np.ndarray:
    """Build S[f, i, j] from the runs' coefficient rows.

    ``columns[p - 1]`` is the S array (n, frequencies) of the run that
    excited original port p: its row k belongs to the port renumbered k+1.
    """
    nf = columns[0].shape[1]
    s = np.empty((nf, n, n), dtype=np.complex128)
    for p in range(1, n + 1):
        col = columns[p - 1]
        if col.shape != (n, nf):
            raise SweepError(f"run for port {p} gave {col.shape[0]} ports x {col.shape[1]} "
                             f"frequencies, expected {n} x {nf}")
        for k in range(n):
            s[:, original_port(p, k + 1) - 1, p - 1] = col[k]
    return s


def reciprocity(s: np.ndarray, frequencies=None):
    """Largest |Sij - Sji| over all pairs and frequencies.

    Returns (error, i, j, frequency index) with 1-based ports, or
    (0.0, None, None, None) for one port.
    """
    n = s.shape[1]
    if n < 2:
        return 0.0, None, None, None
    iu, ju = np.triu_indices(n, 1)
    diff = np.abs(s[:, iu, ju] - s[:, ju, iu])  # (frequencies, pairs)
    f, k = np.unravel_index(np.nanargmax(diff), diff.shape)
    return float(diff[f, k]), int(iu[k]) + 1, int(ju[k]) + 1, int(f)


@contextlib.contextmanager
def forwarding_signals(children):
    """Pass SIGINT and SIGTERM on to the running simulators instead of dying
    with them still running; the sweep then stops after they have ended.
    Only the main thread can take signals: elsewhere this does nothing.  A
    signal ignored from the start (SIGINT of a background job) stays ignored,
    as the simulators inherit it so."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    old = {s: signal.signal(s, children.forward) for s in (signal.SIGINT, signal.SIGTERM)
           if signal.getsignal(s) is not signal.SIG_IGN}
    try:
        yield
    finally:
        for s, handler in old.items():
            signal.signal(s, handler)


def _side_by_side(run, items, jobs):
    """``[run(x) for x in items]`` with up to ``jobs`` calls at once.

    After a failure no further call starts, and the running ones are waited
    for rather than left behind with their simulators; the first failure in
    item order is raised, as one call after the other would have raised it.
    """
    failed = threading.Event()

    def guarded(x):
        if failed.is_set():  # a free worker would otherwise take the next item at once
            return None
        try:
            return run(x)
        except BaseException:
            failed.set()
            raise

    with ThreadPoolExecutor(jobs) as pool:
        futures = [pool.submit(guarded, x) for x in items]
        try:
            wait(futures, return_when=FIRST_EXCEPTION)
        finally:  # also on Ctrl-C: start nothing more
            for f in futures:
                f.cancel()
    for f in futures:
        if not f.cancelled() and f.exception() is not None:
            raise f.exception()
    return [f.result() for f in futures]


def check_options(z0=None, fmt="RI", jobs=1, threads=None, output=None, workdir=None):
    """Every option checked before the first run, so that no mistake costs
    simulator time or the runs' datasets."""
    for option, path in (("-o", output), ("--workdir", workdir)):
        if path is not None and ("\0" in str(path) or not str(path)):
            raise SweepError(f"{option} {str(path)!r}: not a usable file name")
    if z0 is not None and not (isinstance(z0, (int, float)) and math.isfinite(z0) and z0 > 0):
        raise SweepError(f"--z0 {z0}: the reference impedance must be a finite number of ohms "
                         "above 0, such as 50")
    if fmt not in FORMATS:
        raise SweepError(f"--format {fmt}: use one of {', '.join(FORMATS)}")
    if isinstance(jobs, bool) or not isinstance(jobs, int) or jobs < 1:
        raise SweepError(f"--jobs {jobs}: jobs must be a whole number of at least 1")
    RunOptions(threads=threads).check()  # the simulator's own limits, in one place
    if output is not None:
        out = Path(output)
        folder = out.parent
        if out.is_dir():
            raise SweepError(f"-o {output}: is a folder; give a file name such as "
                             f"{out / 'result.s2p'}")
        if not folder.is_dir():
            raise SweepError(f"-o {output}: folder {folder} does not exist; create it first")
        if not os.access(folder, os.W_OK | os.X_OK):
            raise SweepError(f"-o {output}: folder {folder} is not writable")
    if workdir is not None:
        w = Path(workdir)
        if w.exists() and not w.is_dir():
            raise SweepError(f"--workdir {workdir}: exists and is not a folder")
        try:
            w.mkdir(parents=True, exist_ok=True)
        except OSError as e:
            raise SweepError(f"--workdir {workdir}: cannot create it: {e.strerror or e}") from None
        if not os.access(w, os.W_OK | os.X_OK):
            raise SweepError(f"--workdir {workdir}: folder is not writable")


def results_basename(desc, description_path) -> str:
    """The file name of the description's results, without folders: every port
    run writes it into its own folder, whatever path the Sim line gives."""
    name = os.path.basename(desc.results_name)
    if name in ("", ".", ".."):
        raise SweepError(f"{description_path}: the Sim line's results name "
                         f"{desc.results_name!r} has no file name; end it with one such as "
                         "result.dat")
    if name == Path(description_path).name:
        raise SweepError(f"{description_path}: the results name {desc.results_name!r} is the "
                         "description's own name; give the results another name")
    return name


def sweep(description_path, binary=None, output=None, workdir=None, threads=None, verbose=0,
          z0=None, fmt="RI", out=None, err=None, launcher=None, jobs=1, repeatable=True,
          pml=None, extra=()) -> SweepResult:
    """Run the simulator once per port and write the Touchstone file.

    ``binary`` defaults to default_binary() (FENDRIX_BINARY, the installed
    fendrix, build/fendrix, fendrix on PATH).
    ``output`` defaults to the description's name with .sNp in the current
    folder.  ``workdir`` keeps each run's description and dataset (a temporary
    folder, removed afterwards, when not given).  Each run writes its dataset
    as ``workdir/portP/NAME``, NAME being the file name of the Sim line's
    results name without its folders.  ``z0`` is the common reference
    impedance of the Touchstone file (default: port 1's).  ``launcher`` is a
    command prefix for every run (e.g. "mpirun -np 4"); ``jobs`` runs that
    many ports at once, assembled in port order all the same.  SIGINT and
    SIGTERM stop the running simulators and then the sweep (SweepStopped).
    ``repeatable`` passes -r, so that every run ends at the same step on any
    machine and thread count; ``pml`` is the matched layer's cells (None: as
    the description's "# run:" line says, 0: the first-order absorber);
    ``extra`` words go to every run as they are.
    """
    out = out or sys.stdout
    err = err or sys.stderr
    launcher_words(launcher)
    check_options(z0, fmt, jobs, threads, output, workdir)
    options = RunOptions(threads, repeatable, pml or None, launcher, verbose, list(extra)).check()
    desc = Description.read(description_path)
    if pml is None:
        options.pml = pml_of_run_line(desc, description_path)
        if options.pml is not None:
            write(out, f"Matched layer of {options.pml} cells (--pml={options.pml}), as the "
                       f"description's run line asks\n")
    n = desc.port_count
    zs = desc.impedances()
    results = results_basename(desc, description_path)
    if output is None:
        output = Path(description_path).stem + touchstone_suffix(n)
        check_options(output=output)
    check_impedances(zs, z0)
    binary = Path(binary or default_binary()).resolve()
    if not binary.is_file() or not os.access(binary, os.X_OK):
        raise SweepError(f"simulator binary not found or not executable: {binary}")

    tmp = None
    if workdir is None:
        tmp = tempfile.mkdtemp(prefix="fendrix-sweep-")
        workdir = tmp
    workdir = Path(workdir).resolve()
    children = Children()

    def run_port(p):
        run_dir = workdir / f"port{p}"
        run_dir.mkdir(exist_ok=True)
        desc_path = run_dir / Path(description_path).name
        with open(desc_path, "wb") as fh:
            fh.write(desc.renumbered(p, results).encode("latin-1"))
        result_path = run_dir / results
        if result_path.exists():  # a dataset left by an earlier sweep must not pass for this one
            result_path.unlink()
        write(out, f"Port {p} of {n}: running {binary.name} with port {p} as port 1\n")
        rc, killed_by, stderr = run(binary, desc_path.name, run_dir, options, out, err,
                                    None if jobs == 1 else f"port {p}", children)
        if children.stopped is not None:
            raise SweepStopped(children.stopped)
        if rc != 0:
            raise SweepError(f"port {p}: simulator {describe(rc, killed_by)}"
                             + (" (see its messages above)" if stderr else ""))
        if "Can't save results" in stderr or not result_path.exists():
            raise SweepError(f"port {p}: the simulator wrote no dataset ({result_path})")
        try:
            ds = read_dataset(result_path)
        except DatasetError as e:
            raise SweepError(f"port {p}: {e}") from e
        return ds, str(result_path)

    try:
        with forwarding_signals(children):
            columns, datasets, freqs = [], [], None
            ports = range(1, n + 1)
            # map is lazy: one run after the other, and a failure stops the sweep at once
            try:
                runs = map(run_port, ports) if jobs == 1 else _side_by_side(run_port, ports, jobs)
                for p, (ds, result_path) in zip(ports, runs):
                    if freqs is None:
                        freqs = ds.frequencies
                    elif not np.array_equal(freqs, ds.frequencies):
                        raise SweepError(f"port {p}: frequency list differs from port 1's run")
                    columns.append(ds.s)
                    datasets.append(result_path)
            except SweepError:
                if children.stopped is not None:  # a run failed because it was stopped
                    raise SweepStopped(children.stopped) from None
                raise
            if children.stopped is not None:
                raise SweepStopped(children.stopped)
        s = assemble(columns, n)
    finally:
        if tmp is not None:
            shutil.rmtree(tmp, ignore_errors=True)
            datasets = []

    result = SweepResult(freqs, s, zs, datasets)
    write_result(result, output, z0, fmt, source=str(description_path), out=out)
    return result


def pml_of_run_line(desc, description_path):
    """The matched layer's cells that the description's "# run:" comment line
    asks for (the model API writes one), or None."""
    words = desc.run_line()
    for w in words or ():
        if w == "--pml" or w.startswith("--pml="):
            cells = w[6:] or str(DEFAULT_PML)
            if not cells.isdigit() or not PML_CELLS[0] <= int(cells) <= PML_CELLS[1]:
                raise SweepError(f"{description_path}: the run line's {w}: the matched layer "
                                 f"takes {PML_CELLS[0]} to {PML_CELLS[1]} cells; correct the "
                                 "line or give --pml")
            return int(cells)
    return None


def check_impedances(zs, z0=None):
    """The ports' resistances must allow the Touchstone file's single reference."""
    zref = common_impedance(zs, z0)
    if not (math.isfinite(zref) and zref > 0):
        raise SweepError(f"port 1 has resistance {zref:g} ohm, which cannot be the Touchstone "
                         "file's reference impedance; give --z0 (such as 50)")
    for p, z in enumerate(zs, 1):
        if z != zref and not (math.isfinite(z) and z > 0):
            raise SweepError(f"port {p} has resistance {z:g} ohm: its coefficients cannot be "
                             f"renormalised to {zref:g} ohm; give it a resistance above 0")


def common_impedance(zs, z0=None):
    """Touchstone v1 impedance: z0, else the ports' shared |Z|, else port 1's."""
    if z0 is not None:
        return float(z0)
    return float(zs[0])


def write_result(result: SweepResult, output, z0=None, fmt="RI", source="", out=None):
    out = out or sys.stdout
    zs = result.impedances
    zref = common_impedance(zs, z0)
    s = result.s
    comments = [f"Fendrix full S-matrix, {len(zs)} port(s), from {source}" if source
                else f"Fendrix full S-matrix, {len(zs)} port(s)"]
    if any(z != zref for z in zs):
        s = renormalize(s, zs, zref)
        comments.append("port impedances " + ", ".join(f"{z:g}" for z in zs)
                        + f" ohm; renormalised to {zref:g} ohm")
        out.write(f"Note: ports have impedances {', '.join(f'{z:g}' for z in zs)} ohm; "
                  f"the Touchstone file is renormalised to {zref:g} ohm.\n")
    write_touchstone(output, result.frequencies, s, zref, fmt, comments)
    warning = matrix_warning(result.s, result.frequencies)
    if warning:
        print(warning, file=sys.stderr)
    err, i, j, f = reciprocity(result.s)
    if i is not None:
        peak = float(np.nanmax(np.abs(result.s)))
        out.write(f"Reciprocity: max |Sij - Sji| = {err:.3g} (S{i}{j} vs S{j}{i} at "
                  f"{result.frequencies[f] / 1e9:.4g} GHz); largest |Sij| = {peak:.3g}\n")
    out.write(f"Wrote {output}\n")
