"""Command line: fendrix-tools (or python3 -m fendrix_tools)
summary|sweep|plot|remesh|converge|view|fields ..."""

from __future__ import annotations

import argparse
import math
import sys
from pathlib import Path

from .dataset import DatasetError, read_dataset
from .description import DescriptionError
from .simulator import default_binary


def finite(text) -> float:
    """An option's number: finite (argparse takes nan and inf as floats)."""
    v = float(text)
    if not math.isfinite(v):
        raise argparse.ArgumentTypeError(f"{text}: not a finite number")
    return v


def positive(text) -> float:
    v = finite(text)
    if v <= 0:
        raise argparse.ArgumentTypeError(f"{text}: must be above 0")
    return v


def at_least_one(text) -> int:
    try:
        v = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text}: not a whole number") from None
    if v < 1:
        raise argparse.ArgumentTypeError(f"{text}: must be at least 1")
    return v


def cmd_summary(args) -> int:
    from .farfield import read_far_field_table, table_beside, table_lines
    from .summary import far_field_frequency, summarize

    for path in args.datasets:
        if str(path).lower().endswith(".csv"):  # a far-field table
            sys.stdout.write("\n".join(table_lines(read_far_field_table(path))) + "\n")
            continue
        table = table_beside(path)
        # The table knows each file's far-field frequency; a description only
        # the Radiation line's.
        frequency = None if table else far_field_frequency(path, args.description)
        sys.stdout.write(summarize(read_dataset(path), args.points, args.at and [g * 1e9 for g in args.at],
                                   args.z0, args.stop_level, frequency, table))
    return 0


def cmd_sweep(args) -> int:
    from .sweep import sweep

    sweep(args.description, args.binary or default_binary(), output=args.output,
          workdir=args.workdir, threads=args.threads, z0=args.z0, fmt=args.format,
          verbose=None if args.host_codes else 0, launcher=args.launcher, jobs=args.jobs,
          repeatable=args.repeatable, pml=args.pml, extra=args.sim_arg)
    return 0


def cmd_plot(args) -> int:
    from .farfield import read_far_field_table, table_beside
    from .plot import plot_dataset, plot_far_field_table, plot_touchstone

    ff_freq = args.ff_freq and [g * 1e9 for g in args.ff_freq]
    for path in args.files:
        if Path(path).suffix.lower().startswith(".s") and Path(path).suffix.lower().endswith("p"):
            written = plot_touchstone(path, args.outdir)
        elif Path(path).suffix.lower() == ".csv":
            written = plot_far_field_table(read_far_field_table(path), args.outdir, ff_freq)
        else:
            written = plot_dataset(read_dataset(path), args.outdir, cut_azimuth=args.cut_azimuth)
            table = table_beside(path)
            if table is not None and (ff_freq or len(table) > 1):
                written += plot_far_field_table(table, args.outdir, ff_freq)
        for p in written:
            print(f"Wrote {p}")
    return 0


def cmd_remesh(args) -> int:
    from .remesh import remesh

    remesh(args.description, args.output, cells_per_wavelength=args.cells_per_wavelength,
           ratio=args.ratio, thin_cells=args.thin_cells, max_nodes=args.max_nodes)
    return 0


def cmd_converge(args) -> int:
    from .converge import converge_description

    from .simulator import RunOptions

    options = RunOptions(threads=args.threads, launcher=args.launcher, pml=args.pml,
                         extra=args.sim_arg)
    outcome = converge_description(args.description, args.output, tol=args.tol,
                                   max_nodes=args.max_nodes, max_runs=args.max_runs,
                                   binary=args.binary, workdir=args.workdir, options=options)
    return 0 if outcome.converged else 3


def cmd_view(args) -> int:
    from .view import view

    view(args.description, args.output)
    return 0


def build_parser() -> argparse.ArgumentParser:
    # named as it was started: the installed command, or the package run with -m
    prog = ("fendrix-tools" if Path(sys.argv[0]).name == "fendrix-tools"
            else "python3 -m fendrix_tools")
    ap = argparse.ArgumentParser(prog=prog,
                                 description="Tools for Fendrix results datasets.")
    sub = ap.add_subparsers(dest="command", required=True)

    p = sub.add_parser("summary", help="readable report of a results dataset (or a far-field table)")
    p.add_argument("datasets", nargs="+", metavar="DATASET",
                   help="results datasets, or far-field tables NAME_farfield.csv")
    p.add_argument("--points", type=at_least_one, default=5,
                   help="frequencies at which |Sk1| is listed (default 5)")
    p.add_argument("--at", type=positive, nargs="+", metavar="GHZ",
                   help="input impedance and VSWR at these frequencies (default: best match)")
    p.add_argument("--z0", type=positive, default=50.0, help="port 1's impedance, ohms (default 50)")
    p.add_argument("--stop-level", type=finite, default=-20.0, metavar="DB",
                   help="|S21| level that bounds the stop band (default -20 dB)")
    p.add_argument("--description", metavar="FILE",
                   help="the run's description, for the far-field frequency (default: the "
                        "dataset's name with .txt, where its Sim line names the dataset; a "
                        "far-field table beside the dataset takes precedence)")
    p.set_defaults(func=cmd_summary)

    p = sub.add_parser("sweep", help="full S-matrix: one run per port, Touchstone output")
    p.add_argument("description", metavar="DESCRIPTION")
    p.add_argument("-o", "--output", help="Touchstone file (default: DESCRIPTION name .sNp)")
    p.add_argument("--binary", help="simulator (default: $FENDRIX_BINARY, the installed "
                                    "fendrix, build/fendrix, fendrix on PATH)")
    p.add_argument("--workdir", help="keep each run's description and dataset here "
                                     "(default: temporary folder, removed)")
    p.add_argument("-t", "--threads", type=int, help="simulator threads (its -t option)")
    p.add_argument("--z0", type=float, help="reference impedance of the Touchstone file "
                                            "(default: port 1's; others are renormalised)")
    p.add_argument("--format", choices=("RI", "MA"), default="RI",
                   help="real/imaginary or magnitude/angle (default RI)")
    p.add_argument("--host-codes", action="store_true",
                   help="show the simulator's short progress codes instead of its messages")
    p.add_argument("--launcher", metavar="CMD",
                   help='command before the simulator in every run, e.g. "mpirun -np 4"')
    p.add_argument("--jobs", type=int, default=1, metavar="N",
                   help="port runs side by side (default 1)")
    p.add_argument("--no-repeatable", dest="repeatable", action="store_false",
                   help="leave out the simulator's -r: runs end within a second of the energy "
                        "threshold, at a step that varies between runs and machines")
    p.add_argument("--pml", type=int, metavar="N",
                   help="matched layer of N cells (4 to 32) on the absorbing faces; 0: the "
                        "first-order absorber (default: as the description's '# run:' line "
                        "says, else first-order)")
    p.add_argument("--sim-arg", action="append", default=[], metavar="ARG",
                   help="one more word for every simulator run, as it is (repeatable), e.g. "
                        "--sim-arg=--snapshot-every=100")
    p.set_defaults(func=cmd_sweep)

    p = sub.add_parser("plot", help="PNG figures of datasets, far-field tables or Touchstone files")
    p.add_argument("files", nargs="+", metavar="FILE")
    p.add_argument("-o", "--outdir", default=".", help="folder for the PNGs (default: .)")
    p.add_argument("--cut-azimuth", type=finite, default=0.0,
                   help="azimuth in degrees of the vertical pattern cut (default 0)")
    p.add_argument("--ff-freq", type=positive, nargs="+", metavar="GHZ",
                   help="with a far-field table (NAME_farfield.csv, given or beside the dataset): "
                        "overlay the patterns at the listed far-field frequencies nearest these")
    p.set_defaults(func=cmd_plot)

    p = sub.add_parser("remesh", help="replace a description's mesh lines with automatic ones")
    p.add_argument("description", metavar="DESCRIPTION")
    p.add_argument("-o", "--output", required=True, help="new description")
    p.add_argument("--cells-per-wavelength", type=float, help="default 20")
    p.add_argument("--ratio", type=float, help="largest neighbouring-cell ratio (default 1.5)")
    p.add_argument("--thin-cells", type=int, help="cells through thin layers (default 3)")
    p.add_argument("--max-nodes", type=int, metavar="N",
                   help="refuse a mesh of more nodes (default: the simulator's limit for one "
                        "process, 89478484)")
    p.set_defaults(func=cmd_remesh)

    p = sub.add_parser("converge", help="rerun on finer meshes until the answer stops moving")
    p.add_argument("description", metavar="DESCRIPTION")
    p.add_argument("-o", "--output", required=True, help="the finest description (its results "
                                                         "beside it, .dat)")
    p.add_argument("--tol", type=positive, default=0.02,
                   help="largest change of any |Sk1| (linear) between two runs (default 0.02)")
    p.add_argument("--max-nodes", type=at_least_one, metavar="N",
                   help="no run on a mesh of more nodes (default 89478484)")
    p.add_argument("--max-runs", type=at_least_one, default=4, metavar="K",
                   help="at most K runs (default 4)")
    p.add_argument("--binary", help="simulator (default: $FENDRIX_BINARY, the installed "
                                    "fendrix, build/fendrix, fendrix on PATH)")
    p.add_argument("--workdir", help="keep each run's folder here (default: temporary, removed)")
    p.add_argument("-t", "--threads", type=at_least_one, default=1,
                   help="simulator threads (default 1)")
    p.add_argument("--launcher", metavar="CMD", help="command before the simulator in every run, "
                                                     "such as 'mpirun -np 2'")
    p.add_argument("--pml", type=int, metavar="N", help="every run with an N-cell matched layer")
    p.add_argument("--sim-arg", action="append", default=[], metavar="ARG",
                   help="one more simulator argument for every run (repeatable)")
    p.set_defaults(func=cmd_converge)

    p = sub.add_parser("view", help="PNG of a description: three views with the mesh")
    p.add_argument("description", metavar="DESCRIPTION")
    p.add_argument("-o", "--output", required=True, help="PNG file")
    p.set_defaults(func=cmd_view)

    from .fields import add_fields_command

    add_fields_command(sub)
    return ap


def main(argv=None) -> int:
    args = build_parser().parse_args(argv)
    from .sweep import SweepError, SweepStopped

    try:
        return args.func(args)
    except SweepStopped as e:
        print(f"sweep {e}: its simulators were stopped and waited for", file=sys.stderr)
        return 128 + e.signum
    except OSError as e:  # the file name, where the system gives one
        where = f"{e.filename}: " if e.filename else ""
        print(f"error: {where}{e.strerror or e}", file=sys.stderr)
        return 1
    except (DatasetError, DescriptionError, SweepError, ValueError) as e:  # ModelError too
        print(f"error: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
