"""Property-based fuzz of the simulator's own command line: any mix of the
view options, -v, -t and -r on a tiny box, in one process or spread over two
processes with different arguments.  Whatever is drawn, the run ends by itself
with an exit status the user guide lists, says why on standard error when it
fails, leaves no temporary file, and leaves whole files only: a results file
whenever it reports one, and view files that are complete VTK documents.

A few examples per test in the normal suite; FENDRIX_FUZZ_EXAMPLES raises that
for long runs (tools/tests/fuzz_long.sh)."""

import os
import resource
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest
from hypothesis import event, given, settings
from hypothesis import strategies as st

from test_fuzz import EXE, EXAMPLES, FUZZ, LONG

# Exit statuses a run may end with, as the shell sees them (8 bits).
DOCUMENTED = {0, -30, -35, -38, -40, -41, -42, -43, -44, -45, -46, -47, -48, -49}
STATUS = {s & 0xFF: s for s in DOCUMENTED}
HANG_SECONDS = 60
# Each example is a real run (an MPI launch takes about a second): fewer in the normal suite.
RUNS = settings(FUZZ, max_examples=EXAMPLES if LONG else 12)
LAUNCHES = settings(FUZZ, max_examples=EXAMPLES // 4 if LONG else 4)

MESH = "".join(f"{a}Mesh 0,0.001,0.002,0.003,0.004,0.005\n" for a in "xyz")
BOX = ("Sim 2 1e-30 4 out.dat\nFreq 2 1e9 5e9 5\nBoundary 2 2 2 2 2 2\n" + MESH +
       "Electric 1 0 50 x 0.002,0.002,0.002 0.003,0.002,0.002\n")

number = st.one_of(st.integers(-3, 10 ** 10).map(str),
                   st.floats(allow_nan=True, allow_infinity=True).map(repr),
                   st.sampled_from(["", "0x10", "1e9", "3e9", "2.5e9", "6e9", "1,2", "-0", "nan", "5GHz"]))
# Mostly well-formed options, so that runs with views (and their checks on the
# grid, the band and the disk) come up as often as the parse errors.
coordinate = st.sampled_from(["0", "0.001", "0.0025", "0.005", "0.0051", "-0.001", "1e-3"])
good_plane = st.builds("{}:{}".format, st.sampled_from("xyz"), coordinate)
bad_plane = st.tuples(st.sampled_from(["x", "y", "z", "w", "X", ""]), st.sampled_from([":", "=", ""]),
                      st.one_of(coordinate, number)).map("".join)
good_frequencies = st.lists(st.sampled_from(["2e9", "3e9", "4.9e9", "1", "5.4e9", "5.6e9", "9e9", "1e12"]),
                            min_size=1, max_size=4).map(",".join)
bad_frequencies = st.lists(st.one_of(good_frequencies, number), max_size=70).map(",".join)
good_option = st.one_of(
    st.builds("--snapshot-every={}".format, st.integers(1, 40)),
    st.builds("--snapshot-plane={}".format, good_plane),
    st.builds("--map-plane={}".format, good_plane),
    st.builds("--map-freq={}".format, good_frequencies),
    st.sampled_from(["-v0", "-v1", "-r", "-t1", "-t2"]))
bad_option = st.one_of(
    st.builds("--snapshot-every={}".format, number),
    st.builds("--snapshot-plane={}".format, bad_plane),
    st.builds("--map-plane={}".format, bad_plane),
    st.builds("--map-freq={}".format, bad_frequencies),
    st.sampled_from(["-v", "-t0", "-t17", "-tx", "--snapshot-every", "--map-", "--snapshot-x=1", "--bogus"]))
command_line = st.tuples(st.lists(good_option, max_size=8), st.lists(bad_option, max_size=1)).flatmap(
    lambda drawn: st.permutations(drawn[0] + drawn[1]))


def run(args, cwd, file_limit=None):
    """One run; `file_limit` bytes as the file-size limit (ulimit -f), standing in for a full disk."""
    def limit():
        if file_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
    try:
        return subprocess.run(args, cwd=cwd, capture_output=True, text=True, errors="replace",
                              timeout=HANG_SECONDS, preexec_fn=limit)
    except subprocess.TimeoutExpired:
        pytest.fail(f"no end within {HANG_SECONDS} s: {' '.join(args)}")


def check_outcome(proc, folder, args):
    """The properties every run must keep, whatever its options."""
    shown = f"{' '.join(args)}\n{proc.stderr}"
    assert proc.returncode >= 0, f"killed by signal {-proc.returncode}: {shown}"
    assert proc.returncode in STATUS, f"undocumented exit status {proc.returncode}: {shown}"
    status = STATUS[proc.returncode]
    event(f"status {status}")
    if status != 0:
        assert "ERROR: " in proc.stderr, f"failure without a message: {shown}"
    left = [p.name for p in folder.rglob("*.partial")]
    assert not left, f"temporary files left: {left}: {shown}"
    if status in (0, -47):
        assert (folder / "out.dat").read_bytes()[:8] == b"ZeltData", shown
    for view in folder.glob("out_views/*"):
        text = view.read_bytes()
        assert text.startswith(b"<?xml") and text.rstrip().endswith(b"</VTKFile>"), f"half file {view}: {shown}"
    return status


@pytest.fixture(scope="module")
def scratch():
    folder = Path(tempfile.mkdtemp(prefix="fuzz_options_"))
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@RUNS
@given(args=command_line, file_limit=st.sampled_from([None, None, None, 3000, 20000, 200000]))
def test_any_view_options_end_with_a_documented_status_and_whole_files(scratch, args, file_limit):
    folder = Path(tempfile.mkdtemp(dir=scratch))
    (folder / "d.txt").write_text(BOX)
    proc = run([str(EXE), "d.txt", *args], folder, file_limit)
    check_outcome(proc, folder, args)
    shutil.rmtree(folder)


MPIEXEC = shutil.which("mpiexec")
MPI_ENV = {**os.environ, "OMPI_ALLOW_RUN_AS_ROOT": "1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM": "1",
           "OMPI_MCA_rmaps_base_oversubscribe": "1", "OMPI_MCA_mpi_yield_when_idle": "1"}


def built_with_mpi():
    if MPIEXEC is None:
        return False
    probe = subprocess.run([MPIEXEC, "-np", "2", str(EXE), "missing.txt", "-v0"], capture_output=True,
                           text=True, env=MPI_ENV, timeout=HANG_SECONDS)
    return probe.returncode != (-36 & 0xFF)


@pytest.mark.skipif(not built_with_mpi(), reason="needs mpiexec and a build with MPI")
@LAUNCHES
@given(first=command_line.map(lambda a: a[:4]), second=command_line.map(lambda a: a[:4]))
def test_processes_with_any_arguments_end_together(scratch, first, second):
    """Two processes of one launch, each with its own drawn arguments: they end
    together (no hang), with -38 when the arguments differ."""
    folder = Path(tempfile.mkdtemp(dir=scratch))
    (folder / "d.txt").write_text(BOX)
    launch = [MPIEXEC, "-np", "1", str(EXE), "d.txt", *first, ":", "-np", "1", str(EXE), "d.txt", *second]
    try:
        proc = subprocess.run(launch, cwd=folder, capture_output=True, text=True, errors="replace",
                              timeout=HANG_SECONDS, env=MPI_ENV)
    except subprocess.TimeoutExpired:
        pytest.fail(f"processes did not end within {HANG_SECONDS} s: {first} / {second}")
    if first != second:
        assert "started with different arguments" in proc.stderr, f"{first} / {second}\n{proc.stderr}"
        assert proc.returncode != 0
        assert not (folder / "out.dat").exists()
    else:
        assert "started with different arguments" not in proc.stderr
    shutil.rmtree(folder)
