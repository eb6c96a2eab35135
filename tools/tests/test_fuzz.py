"""Property-based fuzz: any numbers into the model API and the mesh settings
give a description the simulator accepts or a ModelError; any sweep options
pass or give a SweepError; any mutation of a dataset reads or gives a
DatasetError, of a description reads or gives a DescriptionError.  Never
another exception, never a hang.

A few dozen examples per test in the normal suite; FENDRIX_FUZZ_EXAMPLES
raises that for long runs (tools/tests/fuzz_long.sh)."""

import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
import warnings
from pathlib import Path

import pytest
from hypothesis import HealthCheck, Phase, event, given, settings
from hypothesis import strategies as st
from hypothesis.configuration import set_hypothesis_home_dir

from fendrix_tools.dataset import DatasetError, read_dataset
from fendrix_tools.description import Description, DescriptionError
from fendrix_tools.mesher import Mesh
from fendrix_tools.model import Model, ModelError
from fendrix_tools.reader import read_model
from fendrix_tools.summary import summarize
from fendrix_tools.sweep import SweepError, check_options
from fendrix_tools.view import off_grid
from test_dataset import RADIATION, SMALLEST

EXAMPLES = int(os.environ.get("FENDRIX_FUZZ_EXAMPLES", "30"))
LONG = "FENDRIX_FUZZ_EXAMPLES" in os.environ
# Long runs skip shrinking: a failure is reported as drawn, each call shown as code.
FUZZ = settings(max_examples=EXAMPLES, deadline=None, derandomize=not LONG, database=None,
                suppress_health_check=list(HealthCheck),
                phases=[Phase.explicit, Phase.generate] + ([] if LONG else [Phase.shrink]))
HANG_SECONDS = 120  # one example beyond this is a hang
REPO = Path(__file__).resolve().parents[2]
# Hypothesis keeps caches (the character table of text strategies) in a folder
# of the current one; not in the checkout.
set_hypothesis_home_dir(os.path.join(tempfile.gettempdir(), "fendrix-hypothesis"))
EXE = Path(os.environ.get("FENDRIX_BINARY") or REPO / "build" / "fendrix")


@contextlib.contextmanager
def time_limit(seconds):
    def hang(*_):
        raise TimeoutError(f"no answer within {seconds} s")

    old = signal.signal(signal.SIGALRM, hang)
    signal.alarm(seconds)
    try:
        yield
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, old)


SPECIAL = [0, -1, 1, 0.5, 1.1, 2, 1e-300, 1e-12, 1e12, 1e300, -1e300, 2 ** 31, 2 ** 64,
           float("nan"), float("inf"), -float("inf"), True, None, "5", (1, 2)]
# Mostly plausible numbers, so that valid models come up as often as broken ones.
plain = st.floats(-20, 20, allow_nan=False)
num = st.one_of(plain, plain, st.floats(), st.integers(-10 ** 12, 10 ** 12), st.sampled_from(SPECIAL))
point = st.one_of(st.tuples(num, num, num), st.tuples(plain, plain, st.floats(0, 1)),
                  st.sampled_from([(), (1, 2), "abc", 3]))
name = st.one_of(st.text(max_size=5), st.sampled_from(["sub", "a/b", "x\ny", None, 3]))


class Call:
    """One call on the model (or its copper, or a new material's box), shown
    as code when an example fails."""

    def __init__(self, on, method, *args, then=None, **kw):
        self.on, self.method, self.args, self.kw, self.then = on, method, args, kw, then

    def __call__(self, m):
        target = m.materials[1] if self.on == "copper" else m
        made = getattr(target, self.method)(*self.args, **self.kw)
        if self.then:
            made.box(*self.then)

    def __repr__(self):
        args = [repr(a) for a in self.args] + [f"{k}={v!r}" for k, v in self.kw.items()]
        box = f".box{self.then!r}" if self.then else ""
        return f"{'m.materials[1]' if self.on == 'copper' else 'm'}.{self.method}({', '.join(args)}){box}"


def operation(draw):
    """One call on the model with drawn arguments."""
    kind = draw(st.sampled_from([
        "band", "limits", "boundaries", "far_field", "dielectric", "metal", "sheet", "cylinder",
        "polygon", "port", "resistor", "capacitor", "mesh_settings", "domain", "extra_lines",
        "refine", "comment"]))
    n = lambda: draw(num)  # noqa: E731
    p = lambda: draw(point)  # noqa: E731
    if kind == "band":
        return Call("m", "band", draw(st.one_of(st.floats(0, 5), num)),
                    draw(st.one_of(st.floats(5, 30), num)), draw(st.one_of(st.integers(2, 50), num)),
                    draw(st.sampled_from(["band", "wideband", "baseband", "derivative", "x", 3])))
    if kind == "limits":
        return Call("m", "limits", **draw(st.dictionaries(
            st.sampled_from(["pulses", "energy", "samples", "results"]), st.one_of(num, name),
            max_size=2)))
    if kind == "boundaries":
        face = draw(st.sampled_from(["xlow", "zhigh", "y", "q"]))
        return Call("m", "boundaries", **{face: draw(st.sampled_from(
            ["electric", "magnetic", "absorbing", "wet", 2]))})
    if kind == "far_field":
        return Call("m", "far_field", draw(st.one_of(st.floats(0.5, 25), num)), n(), n(), n())
    if kind == "dielectric":
        return Call("m", "dielectric", draw(name), draw(st.one_of(st.floats(1, 12), num)), n(), n(),
                    then=(p(), p()))
    if kind == "metal":
        kw = draw(st.dictionaries(st.sampled_from(["conductivity", "resistivity", "thickness",
                                                   "roughness", "sheet_resistance"]),
                                  st.one_of(st.floats(0, 1e8), num), min_size=1, max_size=3))
        return Call("m", "metal", "m", then=(p(), p()), **kw)
    if kind == "sheet":
        return Call("copper", "sheet", p(), p())
    if kind == "cylinder":
        return Call("copper", "cylinder", p(), p(), radius=n())
    if kind == "polygon":
        pts = draw(st.lists(st.one_of(st.tuples(num, num), st.tuples(plain, plain), st.just((1,))),
                            max_size=6))
        return Call("copper", "polygon", pts, z=n())
    if kind in ("port", "resistor", "capacitor"):
        return Call("m", kind, p(), p(), n(), axis=draw(st.sampled_from([None, None, "x", "z", 1, 7, "q"])))
    if kind == "mesh_settings":
        key = draw(st.sampled_from(["cells_per_wavelength", "ratio", "thin_cells", "margin",
                                    "density", "thirds", "max_nodes", "domain", "bogus"]))
        return Call("m", "mesh_settings", **{key: n()})
    if kind == "domain":
        return Call("m", "domain", **{draw(st.sampled_from("xyz")):
                                      draw(st.one_of(st.tuples(num, num), point))})
    if kind == "extra_lines":
        return Call("m", "extra_lines", y=draw(st.one_of(st.lists(num, max_size=4), num)))
    if kind == "refine":
        return Call("m", "refine", p(), p(), draw(st.one_of(st.floats(0.01, 1), num)))
    return Call("m", "comment", draw(st.text(max_size=8)))


OPERATIONS = st.composite(operation)()


def strip(name="fuzz"):
    m = Model(name, unit="mm", frequency_unit="GHz")
    m.band(1, 20, points=11)
    m.boundaries("absorbing", zlow="electric")
    m.dielectric("sub", eps_r=4.0).box((-5, -5, 0), (15, 5, 0.5))
    m.metal("cu").sheet((0, -0.5, 0.5), (10, 0.5, 0.5))
    m.port((0, 0, 0), (0, 0, 0.5))
    return m


_copy = []


def simulator():
    """A private copy of the simulator (another build may replace the original
    while the fuzz runs), or None when there is none."""
    if not _copy:
        try:
            target = Path(tempfile.mkdtemp(prefix="fendrix-fuzz-")) / "fendrix"
            shutil.copy2(EXE, target)
            _copy.append(target)
        except OSError:
            _copy.append(None)
    return _copy[0]


def accepted_by_simulator(exe, text):
    """The simulator parses it and builds the grid.  A view plane far outside
    the mesh stops it right after the build (status -44), before any step."""
    with tempfile.TemporaryDirectory() as d:
        (Path(d) / "f.txt").write_bytes(text.encode("latin-1"))
        r = subprocess.run([str(exe), "f.txt", "-v0", "--snapshot-every=1",
                            "--snapshot-plane=z:1e300"], cwd=d, capture_output=True, text=True,
                           timeout=HANG_SECONDS)
    errors = [ln for ln in r.stderr.splitlines() if ln.startswith("ERROR") and "View plane" not in ln]
    assert r.returncode == 256 - 44 and not errors, r.stderr + text[:2000]


@FUZZ
@given(st.data())
def test_model_calls_give_a_description_or_model_error(data):
    try:
        m = strip(data.draw(st.one_of(st.just("fuzz"), name)))
    except ModelError:
        return
    with time_limit(HANG_SECONDS):
        for _ in range(data.draw(st.integers(1, 4))):
            try:
                data.draw(OPERATIONS)(m)
            except ModelError:
                pass
        # a small budget keeps every example quick; the refusal is a ModelError like any other
        m.settings.max_nodes = min(m.settings.max_nodes, 300_000)
        try:
            text = m.description()
        except ModelError as e:
            event(f"refused: {str(e).split(':')[1][:40]}")
            return
    event("description")
    path = Path(tempfile.mkdtemp()) / "d.txt"
    path.write_bytes(text.encode("latin-1"))
    back, _, _ = read_model(path)
    for lines in back.fixed_lines:
        assert len(lines) >= 3 and all(a < b for a, b in zip(lines, lines[1:]))
    path.unlink()
    path.parent.rmdir()
    if simulator():
        accepted_by_simulator(simulator(), text)


@FUZZ
@given(z0=st.one_of(st.none(), num), fmt=st.sampled_from(["RI", "MA", "ri", "", None]),
       jobs=st.one_of(num, st.integers(-3, 40)), threads=st.one_of(st.none(), num),
       output=st.sampled_from(["out.s2p", "", ".", "missing/x.s2p", "a\0b", "/proc/x.s2p", None]),
       workdir=st.sampled_from([None, "w", "out.s2p", "a\0b", "/proc/1/w"]))
def test_sweep_options_pass_or_give_sweep_error(tmp_path_factory, z0, fmt, jobs, threads, output,
                                                workdir):
    base = tmp_path_factory.mktemp("opts")
    (base / "out.s2p").write_text("")
    with time_limit(HANG_SECONDS), contextlib.suppress(SweepError):
        check_options(z0, fmt, jobs, threads, output and str(base / output),
                      workdir and str(base / workdir))


def mutate(draw, data):
    data = bytearray(data)
    for _ in range(draw(st.integers(1, 4))):
        kind = draw(st.sampled_from(["cut", "flip", "insert", "count"]))
        at = draw(st.integers(0, max(0, len(data) - 1)))
        if kind == "cut":
            del data[at:]
        elif kind == "flip" and data:
            data[at] ^= 1 << draw(st.integers(0, 7))
        elif kind == "insert":
            data[at:at] = draw(st.binary(min_size=1, max_size=8))
        else:  # a u32 field set to any value: sizes, counts, flags
            data[at:at + 4] = draw(st.integers(0, 2 ** 32 - 1)).to_bytes(4, "little")
    return bytes(data)


@FUZZ
@given(st.data())
def test_mutated_datasets_read_or_give_dataset_error(tmp_path_factory, data):
    """... and what reads, summary reports."""
    original = data.draw(st.sampled_from([SMALLEST, RADIATION]))
    blob = data.draw(st.composite(lambda draw: mutate(draw, original))())
    path = tmp_path_factory.mktemp("ds") / "m.dat"
    path.write_bytes(blob)
    with time_limit(HANG_SECONDS):
        try:
            ds = read_dataset(path)
        except DatasetError:
            return
    assert ds.s.shape[1] == len(ds.frequencies)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # NaN and infinite values are fine here
        assert summarize(ds).startswith("Dataset: ")


DESCRIPTIONS = sorted((REPO / "examples").glob("*.txt"))
PIECES = [b"-", b"1e999", b"nan", b" ", b"\n", b",", b"x", b"0", b"9" * 30, b"/\n",
          b"Electric 1 2 50 x 0,0,0 0,0,1\n", b"Cube 1,2\n"]


@FUZZ
@given(st.data())
def test_mutated_descriptions_read_or_give_description_error(tmp_path_factory, data):
    """What remesh, view and sweep read: a broken description is named, never a traceback."""
    blob = bytearray(data.draw(st.sampled_from(DESCRIPTIONS)).read_bytes())
    for _ in range(data.draw(st.integers(1, 3))):
        at = data.draw(st.integers(0, len(blob) - 1))
        kind = data.draw(st.sampled_from(["cut", "insert", "byte"]))
        if kind == "cut":
            del blob[at:at + data.draw(st.integers(1, 60))]
        elif kind == "insert":
            blob[at:at] = data.draw(st.sampled_from(PIECES))
        else:
            blob[at] = data.draw(st.integers(0, 255))
    path = tmp_path_factory.mktemp("desc") / "d.txt"
    path.write_bytes(bytes(blob))
    with time_limit(HANG_SECONDS):
        with contextlib.suppress(DescriptionError, ModelError):
            model, _, _ = read_model(path)
            off_grid(model, Mesh(model.fixed_lines, model))
        with contextlib.suppress(DescriptionError):
            Description.read(path).renumbered(1, "x.dat")


if __name__ == "__main__":
    pytest.main([__file__, "-q"])
