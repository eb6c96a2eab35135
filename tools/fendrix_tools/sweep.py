"""Full scattering matrix from one simulator run per port.

Each run excites one port: the description is copied with that port
renumbered as port 1 and the remaining ports, in their original order, as
2..n.  The dataset of the run then holds one column of the matrix.  Every
coefficient already refers to its own port's reference impedance, so the
columns fit together without conversion.
"""

from __future__ import annotations

import os
import shlex
import shutil
import subprocess
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
from .touchstone import renormalize, touchstone_suffix, write_touchstone


class SweepError(RuntimeError):
    pass


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


# Runs side by side share the terminal: one writer at a time.
_SINK_LOCK = threading.Lock()


def _write(sink, text):
    with _SINK_LOCK:
        sink.write(text)
        sink.flush()


def _pump(stream, sink, prefix, keep, whole_lines=False):
    """Copy the child's output as it comes (host progress codes have no line
    ends, so read whatever is there), indenting every line.  ``whole_lines``
    holds back an unfinished line until its end arrives, so that runs side by
    side never write into each other's lines."""
    at_start = True
    held = ""
    fd = stream.fileno()
    while True:
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        text = chunk.decode("latin-1")
        keep.append(text)
        if whole_lines:
            held += text
            cut = held.rfind("\n") + 1
            text, held = held[:cut], held[cut:]
        shown = []
        for part in text.splitlines(keepends=True):
            shown.append((prefix if at_start else "") + part)
            at_start = part.endswith("\n")
        if shown:
            _write(sink, "".join(shown))
    if held:
        _write(sink, prefix + held + "\n")
    elif not at_start:
        _write(sink, "\n")
    stream.close()


def run_simulator(binary, description_path, workdir, threads=None, verbose=0,
                  out=None, err=None, launcher=(), tag=None):
    """Run the simulator in ``workdir``, echoing its output indented.

    ``launcher`` words go before the binary (an MPI starter, for instance).
    ``tag`` names a run that shares the terminal with others: its lines carry
    the tag and pass only whole.  Returns (exit status as the simulator meant
    it, i.e. negative error numbers restored, standard error text)."""
    out = out or sys.stdout
    err = err or sys.stderr
    cmd = [*launcher, str(binary), str(description_path)]
    if verbose is not None:
        cmd.append(f"-v{verbose}")
    if threads:
        cmd.append(f"-t{threads}")
    proc = subprocess.Popen(cmd, cwd=workdir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    kept_out, kept_err = [], []
    prefix, whole = ("    ", False) if tag is None else (f"    [{tag}] ", True)
    t1 = threading.Thread(target=_pump, args=(proc.stdout, out, prefix, kept_out, whole))
    t2 = threading.Thread(target=_pump, args=(proc.stderr, err, prefix, kept_err, whole))
    t1.start()
    t2.start()
    try:
        rc = proc.wait()
    except KeyboardInterrupt:
        proc.terminate()
        proc.wait()
        raise
    t1.join()
    t2.join()
    if rc > 127:  # the simulator returns negative error numbers
        rc -= 256
    return rc, "".join(kept_err)


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


def launcher_words(launcher) -> list:
    """The words of a command prefix such as "mpirun -np 4", checked before
    any run starts so that a typing mistake costs no simulator time."""
    if launcher is None:
        return []
    try:
        words = shlex.split(launcher)
    except ValueError as e:
        raise SweepError(f"launcher {launcher!r}: {e}") from e
    if not words:
        raise SweepError("launcher is empty")
    if shutil.which(words[0]) is None:
        raise SweepError(f"launcher not found: {words[0]}")
    return words


def sweep(description_path, binary, output=None, workdir=None, threads=None, verbose=0,
          z0=None, fmt="RI", out=None, err=None, launcher=None, jobs=1) -> SweepResult:
    """Run the simulator once per port and write the Touchstone file.

    ``output`` defaults to the description's name with .sNp in the current
    folder.  ``workdir`` keeps each run's description and dataset (a temporary
    folder, removed afterwards, when not given).  ``z0`` is the common
    reference impedance of the Touchstone file (default: the ports' own
    impedance when they all agree, else port 1's).  ``launcher`` is a command
    prefix for every run (e.g. "mpirun -np 4"); ``jobs`` runs that many ports
    at once, each in its own folder, assembled in port order all the same.
    """
    out = out or sys.stdout
    err = err or sys.stderr
    words = launcher_words(launcher)
    if not isinstance(jobs, int) or jobs < 1:
        raise SweepError(f"jobs must be a whole number of at least 1, not {jobs!r}")
    desc = Description.read(description_path)
    n = desc.port_count
    zs = desc.impedances()
    if output is None:
        output = Path(description_path).stem + touchstone_suffix(n)
    binary = Path(binary).resolve()
    if not binary.is_file():
        raise SweepError(f"simulator binary not found: {binary}")
    if jobs > 1 and Path(desc.results_name).is_absolute():
        raise SweepError(f"results file {desc.results_name} is an absolute name: runs side by "
                         "side would write over each other's (use a relative name or --jobs 1)")

    tmp = None
    if workdir is None:
        tmp = tempfile.mkdtemp(prefix="fendrix-sweep-")
        workdir = tmp
    workdir = Path(workdir).resolve()

    def run_port(p):
        run_dir = workdir / f"port{p}"
        run_dir.mkdir(parents=True, exist_ok=True)
        desc_path = run_dir / Path(description_path).name
        with open(desc_path, "wb") as fh:
            fh.write(desc.renumbered(p).encode("latin-1"))
        result_path = run_dir / desc.results_name  # absolute names stay absolute
        if result_path.exists() and result_path.is_relative_to(run_dir):
            result_path.unlink()
        before = result_path.stat().st_mtime_ns if result_path.exists() else None
        _write(out, f"Port {p} of {n}: running {binary.name} with port {p} as port 1\n")
        rc, stderr = run_simulator(binary, desc_path.name, run_dir, threads, verbose, out, err,
                                   words, None if jobs == 1 else f"port {p}")
        if rc != 0:
            raise SweepError(f"port {p}: simulator exited with status {rc}"
                             + (" (description error)" if rc < 0 else ""))
        if "Can't save results" in stderr or not result_path.exists() \
                or (before is not None and result_path.stat().st_mtime_ns == before):
            raise SweepError(f"port {p}: the simulator wrote no dataset ({result_path})")
        try:
            ds = read_dataset(result_path)
        except DatasetError as e:
            raise SweepError(f"port {p}: {e}") from e
        if not result_path.is_relative_to(run_dir):
            kept = run_dir / result_path.name
            shutil.copyfile(result_path, kept)
            result_path = kept
        return ds, str(result_path)

    try:
        columns, datasets, freqs = [], [], None
        ports = range(1, n + 1)
        # map is lazy: one run after the other, and a failure stops the sweep at once
        runs = map(run_port, ports) if jobs == 1 else _side_by_side(run_port, ports, jobs)
        for p, (ds, result_path) in zip(ports, runs):
            if freqs is None:
                freqs = ds.frequencies
            elif not np.array_equal(freqs, ds.frequencies):
                raise SweepError(f"port {p}: frequency list differs from port 1's run")
            columns.append(ds.s)
            datasets.append(result_path)
        s = assemble(columns, n)
    finally:
        if tmp is not None:
            shutil.rmtree(tmp, ignore_errors=True)
            datasets = []

    result = SweepResult(freqs, s, zs, datasets)
    write_result(result, output, z0, fmt, source=str(description_path), out=out)
    return result


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
