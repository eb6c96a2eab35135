"""The simulator's command line from run options, and options refused before any run."""

import pytest

from fendrix_tools.exit_status import describe
from fendrix_tools.simulator import RunOptions, SimulatorError


@pytest.mark.parametrize("options, words", [
    (RunOptions(), ["-v0", "-r"]),
    (RunOptions(repeatable=False), ["-v0"]),
    (RunOptions(verbose=None, threads=4), ["-t4", "-r"]),  # host mode: no -v at all
    (RunOptions(pml=8, verbose=1), ["-v1", "-r", "--pml=8"]),
    (RunOptions(threads=2, pml=32, extra=["--snapshot-every=5", "--map-freq=1e9"]),
     ["-v0", "-t2", "-r", "--pml=32", "--snapshot-every=5", "--map-freq=1e9"]),
    (RunOptions(launcher="sh -c 'x y'", pml=4), ["sh", "-c", "x y", "fendrix", "d.txt", "-v0", "-r",
                                                  "--pml=4"]),
])
def test_command_line_follows_the_options(options, words):
    cmd = options.check().command("fendrix", "d.txt")
    assert cmd == (words if options.launcher else ["fendrix", "d.txt", *words])


@pytest.mark.parametrize("options, message", [
    (RunOptions(pml=3), "--pml 3: the matched layer takes 4 to 32 cells"),
    (RunOptions(pml=33), "--pml 33"), (RunOptions(pml=8.0), "--pml 8.0"),
    (RunOptions(threads=17), "-t 17: the simulator takes 1 to 16"),
    (RunOptions(threads=True), "-t True"),
    (RunOptions(repeatable="yes"), "repeatable 'yes'"),
    (RunOptions(verbose=-1), "verbose -1"),
    (RunOptions(extra="--pml"), "give a list"), (RunOptions(extra=[""]), "non-empty words"),
    (RunOptions(launcher="nowhere-x -n 2"), "launcher not found: nowhere-x"),
])
def test_bad_options_are_refused_by_name(options, message):
    with pytest.raises(SimulatorError, match=message):
        options.check()


def test_every_error_number_has_its_meaning():
    for status in (-38, *range(-59, -45)):
        assert describe(status).startswith(("run error", "description error")), status
