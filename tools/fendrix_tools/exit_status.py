"""What an exit status of the simulator means, in one table.

The simulator exits with 0 on success and with a negative number otherwise:
-1 .. -106 for a description it cannot read (it prints "Input file corrupt
(N)"), -30 .. -59 for failures after parsing.  A process ends this way only
through its own exit; one killed by a signal has no status of its own.
"""

from __future__ import annotations

import signal

DESCRIPTION_ERRORS = {
    -1: "a comment line at the top has no line feed (also: the description cannot be read)",
    -2: "the first line after the comments is not a 'Sim ' line",
    -3: "Sim: run limit missing, or not followed by one blank",
    -4: "Sim: energy threshold missing, or not followed by one blank",
    -5: "Sim: samples per Nyquist interval missing, or not followed by one blank",
    -6: "Sim: no line feed after the results file name",
    -7: "the line after Sim is not a 'Freq ' line",
    -8: "Freq: the kind is not followed by one blank",
    -9: "Freq: F1 or F2 missing, or not followed by one blank",
    -10: "Freq: point count missing, or not followed directly by the line feed",
    -12: "Freq: the kind is not 0, 1, 2 or 3",
    -13: "the line after Freq (or Radiation) is not a 'Boundary' line",
    -14: "Boundary: a code is not preceded by one blank",
    -15: "Boundary: no line feed right after the sixth code",
    -16: "Radiation: frequency missing, or not followed by one blank",
    -17: "Radiation: azimuth count missing, or not followed by one blank",
    -18: "Radiation: elevation count missing, or not followed by one blank",
    -19: "Radiation: margin missing, or not followed by the line feed",
    -20: "mesh lines: malformed, fewer than 3 per axis, not strictly ascending, or no memory "
         "for the coefficients",
    -21: "the grid is too large for 32-bit storage sizes (about 89 million nodes)",
    -22: "Sim: samples per Nyquist interval is 0",
    -23: "Radiation: fewer than 2 or more than 3601 azimuths or elevations",
    -24: "Radiation: far-field frequency not above 0, above the last analysis frequency, "
         "or no analysis frequencies",
    -25: "Freq: more than 100000 frequency points",
    -26: "more processes than pairs of z mesh lines",
    -101: "a keyword is not followed by a blank (also an empty line at the end)",
    -102: "unknown keyword: not Electric, Dielectric or Metal",
    -103: "a shape line is malformed, or no line feed after the end line '/'",
    -104: "a material line is malformed (also a relative permittivity not above 0)",
    -105: "an Electric line is malformed",
    -106: "ports are not numbered 1 to n, each once",
}

RUN_ERRORS = {
    -30: "thread count (-t) outside 1 to 16",
    -31: "out of memory during the grid build",
    -32: "the simulation became unstable (field energy infinite or not a number)",
    -33: "the time step is not below the Nyquist interval: cells far too large "
         "(millimetres written for metres?)",
    -34: "a numbered port spans no cell along its axis",
    -35: "the results file cannot be created",
    -36: "started by an MPI launcher this build cannot join",
    -37: "field views asked of a run over several processes",
    -38: "the processes of one run were started with different arguments",
    -40: "--snapshot-every not a whole number 1..2147483647",
    -41: "a view plane not AXIS:COORD",
    -42: "a map frequency not a positive number",
    -43: "unknown or incomplete view options",
    -44: "a view plane outside the mesh",
    -45: "a map frequency above half the sampling rate",
    -46: "the field views would not fit in the free space of their folder",
    -47: "a field view could not be written (the results were written)",
    -48: "a map frequency well outside the band of the Freq line",
    -49: "the results file could not be written after the run (disk full, size limit)",
    -50: "--pml=N with N not a whole number 4 to 32",
    -51: "--pml: an axis with absorbing faces has too few cells for its layers and 4 more",
    -52: "--pml: a port or element reaches into a matched layer (move it or add air)",
    -53: "--pml: the far-field box lies inside a matched layer (Radiation margin below N + 2)",
    -54: "--far-field-freq: not a list of positive numbers in Hz",
    -55: "--far-field-freq: more than 64 frequencies",
    -56: "--far-field-freq: a frequency listed twice (the same in single precision)",
    -57: "--far-field-freq without a Radiation line in the description",
    -58: "--far-field-freq: a frequency outside the band of the Freq line",
    -59: "--far-field-freq: a frequency above half the rate at which the run samples its fields",
}

_SIGNAL_NOTES = {
    signal.SIGKILL: "; the system's out-of-memory killer ends processes this way",
    signal.SIGSEGV: "; the simulator crashed",
    signal.SIGBUS: "; the simulator crashed",
    signal.SIGABRT: "; the simulator aborted",
}


def signal_name(signum: int) -> str:
    try:
        return signal.Signals(signum).name
    except ValueError:
        return f"signal {signum}"


def describe(status, killed_by=None) -> str:
    """A run's end in words: ``status`` as the simulator meant it (negative
    numbers restored), or ``killed_by`` a signal number."""
    if killed_by is not None:
        return f"killed by signal {signal_name(killed_by)}" + _SIGNAL_NOTES.get(killed_by, "")
    if status in DESCRIPTION_ERRORS:
        return f"description error {status}: {DESCRIPTION_ERRORS[status]}"
    if status in RUN_ERRORS:
        return f"run error {status}: {RUN_ERRORS[status]}"
    raw = status + 256 if status < 0 else status
    if 129 <= raw <= 159 and raw - 128 in {int(s) for s in signal.Signals}:
        # a launcher or shell reports a child killed by signal S as 128 + S
        return f"exit status {raw} (a launcher's way of saying killed by signal " \
               f"{signal_name(raw - 128)})"
    return f"exit status {status}"
