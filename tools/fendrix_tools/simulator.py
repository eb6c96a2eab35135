"""Starting the simulator: where its binary is, the command line a set of run
options asks for, and one run with its output echoed as it comes.

Every tool that runs the simulator goes through here, so that a run option
(threads, the repeatable end, the matched layer, a launcher) means the same
in the model API, the sweep and the mesher's speed measurement.
"""

from __future__ import annotations

import contextlib
import os
import shlex
import shutil
import subprocess
import sys
import sysconfig
import threading
from dataclasses import dataclass, field
from pathlib import Path

from .exit_status import signal_name

MAX_THREADS = 16  # the simulator's -t range is 1..16
PML_CELLS = (4, 32)  # its --pml=N range
DEFAULT_PML = 8
MAX_FAR_FIELD_FREQUENCIES = 64  # its --far-field-freq limit


class SimulatorError(RuntimeError):
    """A run could not be started, or ended without results."""


def installed_binary():
    """The fendrix that pip installed with this package: in the scripts folder
    of the running interpreter (a virtual environment's bin/, also when it is
    not activated), else of the user's scheme (pip install --user); None when
    neither has one."""
    folders = [sysconfig.get_path("scripts")]
    with contextlib.suppress(KeyError):
        folders.append(sysconfig.get_path("scripts", f"{os.name}_user"))
    for folder in folders:
        exe = Path(folder) / "fendrix"
        if exe.is_file() and os.access(exe, os.X_OK):
            return str(exe)
    return None


def default_binary() -> str:
    """FENDRIX_BINARY, else the fendrix installed beside this interpreter, else
    build/fendrix of this checkout, else fendrix on PATH (build/fendrix, the
    path to build, when there is none at all)."""
    env = os.environ.get("FENDRIX_BINARY")
    if env:
        return env
    installed = installed_binary()
    if installed:
        return installed
    local = Path(__file__).resolve().parents[2] / "build" / "fendrix"
    if local.is_file():
        return str(local)
    return shutil.which("fendrix") or str(local)


def _whole(value) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def launcher_words(launcher) -> list:
    """The words of a command prefix such as "mpirun -np 4", checked before
    any run starts so that a typing mistake costs no simulator time."""
    if launcher is None:
        return []
    try:
        words = shlex.split(launcher)
    except ValueError as e:
        raise SimulatorError(f"launcher {launcher!r}: {e}") from e
    if not words:
        raise SimulatorError("launcher is empty")
    if shutil.which(words[0]) is None:
        raise SimulatorError(f"launcher not found: {words[0]}")
    return words


@dataclass
class RunOptions:
    """The simulator's options for one run.  ``verbose`` None leaves -v out
    (host mode: short progress codes); ``pml`` None keeps the first-order
    absorber; ``far_field_frequencies`` (Hz) asks for the far field at those
    frequencies too (--far-field-freq); ``extra`` words follow the others
    unchanged."""

    threads: int = None
    repeatable: bool = True
    pml: int = None
    launcher: str = None
    verbose: int = 0
    extra: list = field(default_factory=list)
    far_field_frequencies: list = None

    def check(self) -> "RunOptions":
        """Every option checked before a run starts; returns self."""
        t = self.threads
        if t is not None and (not _whole(t) or not 1 <= t <= MAX_THREADS):
            raise SimulatorError(f"-t {t}: the simulator takes 1 to {MAX_THREADS} threads")
        if not isinstance(self.repeatable, bool):
            raise SimulatorError(f"repeatable {self.repeatable!r}: must be True or False")
        p = self.pml
        if p is not None and (not _whole(p) or not PML_CELLS[0] <= p <= PML_CELLS[1]):
            raise SimulatorError(f"--pml {p}: the matched layer takes {PML_CELLS[0]} to "
                                 f"{PML_CELLS[1]} cells")
        if self.verbose is not None and (not _whole(self.verbose) or not 0 <= self.verbose <= 9):
            raise SimulatorError(f"verbose {self.verbose!r}: use 0 to 9, or None for host mode")
        if isinstance(self.extra, str) or not all(isinstance(w, str) and w and "\0" not in w
                                                  for w in self.extra):
            raise SimulatorError(f"extra simulator arguments {self.extra!r}: give a list of "
                                 "non-empty words, such as ['--snapshot-every=100']")
        self._check_far_field()
        launcher_words(self.launcher)
        return self

    def _check_far_field(self):
        ff = self.far_field_frequencies
        if ff is None:
            return
        import math

        import numpy as np

        if isinstance(ff, (str, bytes)) or not hasattr(ff, "__len__") or not all(
                isinstance(f, (int, float)) and not isinstance(f, bool) and math.isfinite(f) and f > 0
                for f in ff):
            raise SimulatorError(f"far-field frequencies {ff!r}: give a list of positive numbers in Hz")
        if not 1 <= len(ff) <= MAX_FAR_FIELD_FREQUENCIES:
            raise SimulatorError(f"far-field frequencies: {len(ff)} given, the simulator takes 1 to "
                                 f"{MAX_FAR_FIELD_FREQUENCIES}")
        single = [float(np.float32(f)) for f in ff]  # the simulator's precision for a far field
        if len(set(single)) != len(single):
            raise SimulatorError(f"far-field frequencies {list(ff)!r}: a frequency is listed twice")

    def arguments(self) -> list:
        """The words after the description's name."""
        words = [] if self.verbose is None else [f"-v{self.verbose}"]
        if self.threads:
            words.append(f"-t{self.threads}")
        if self.repeatable:
            words.append("-r")
        if self.pml is not None:
            words.append(f"--pml={self.pml}")
        if self.far_field_frequencies:
            # repr: the shortest text that reads back as the same number
            words.append("--far-field-freq=" + ",".join(repr(float(f)) for f in self.far_field_frequencies))
        return words + list(self.extra)

    def command(self, binary, description) -> list:
        return [*launcher_words(self.launcher), str(binary), str(description), *self.arguments()]


# Runs side by side share the terminal: one writer at a time.
_SINK_LOCK = threading.Lock()


def write(sink, text):
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
            write(sink, "".join(shown))
    if held:
        write(sink, prefix + held + "\n")
    elif not at_start:
        write(sink, "\n")
    stream.close()


class RunStopped(Exception):
    """SIGINT or SIGTERM stopped the runs; the simulators were stopped too."""

    def __init__(self, signum):
        super().__init__(f"stopped by {signal_name(signum)}")
        self.signum = signum


class Children:
    """The simulators running now, so that a signal that stops the caller
    reaches them too.  ``stopped`` is that signal's number, once it came."""

    def __init__(self):
        # reentrant: the signal handler runs in the main thread, perhaps while
        # that thread is inside start()
        self.lock = threading.RLock()
        self.procs = set()
        self.stopped = None

    def start(self, cmd, **kw):
        with self.lock:
            if self.stopped is not None:
                raise RunStopped(self.stopped)
            proc = subprocess.Popen(cmd, **kw)
            self.procs.add(proc)
            if self.stopped is not None:  # the signal came while it started
                proc.send_signal(self.stopped)
        return proc

    def finished(self, proc):
        with self.lock:
            self.procs.discard(proc)

    def forward(self, signum, _frame=None):
        with self.lock:
            self.stopped = signum
            for proc in self.procs:
                try:
                    proc.send_signal(signum)
                except OSError:  # already gone
                    pass


def run(binary, description_path, workdir, options=None, out=None, err=None, tag=None,
        children=None):
    """Run the simulator in ``workdir`` with ``options`` (a RunOptions),
    echoing its output indented.

    ``tag`` names a run that shares the terminal with others: its lines carry
    the tag and pass only whole.  ``children`` (a Children) tracks the process
    so that a signal reaches it.  Returns (exit status as the simulator meant
    it, i.e. negative error numbers restored, or None when a signal killed it;
    that signal's number or None; standard error text)."""
    out = out or sys.stdout
    err = err or sys.stderr
    cmd = (options or RunOptions()).command(binary, description_path)
    children = children or Children()
    try:
        proc = children.start(cmd, cwd=workdir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError as e:
        raise SimulatorError(f"cannot start {cmd[0]}: {e.strerror or e}") from None
    kept_out, kept_err = [], []
    prefix, whole = ("    ", False) if tag is None else (f"    [{tag}] ", True)
    t1 = threading.Thread(target=_pump, args=(proc.stdout, out, prefix, kept_out, whole))
    t2 = threading.Thread(target=_pump, args=(proc.stderr, err, prefix, kept_err, whole))
    t1.start()
    t2.start()
    try:
        rc = proc.wait()
    except BaseException:  # KeyboardInterrupt outside a caller's own handler
        proc.terminate()
        proc.wait()
        raise
    finally:
        children.finished(proc)
    t1.join()
    t2.join()
    if rc < 0:
        return None, -rc, "".join(kept_err)
    if rc > 127:  # the simulator returns negative error numbers
        rc -= 256
    return rc, None, "".join(kept_err)


def run_quietly(binary, description_path, workdir, options=None, timeout=None):
    """One run with its output captured, not shown: (exit status as the
    simulator meant it, or None when it could not start or ran past
    ``timeout`` seconds; standard output text)."""
    cmd = (options or RunOptions()).command(binary, description_path)
    try:
        done = subprocess.run(cmd, cwd=workdir, capture_output=True, text=True, timeout=timeout)
    except (OSError, subprocess.TimeoutExpired):
        return None, ""
    rc = done.returncode
    return (rc - 256 if rc > 127 else rc), done.stdout
