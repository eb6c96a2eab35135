"""Python tools around the Fendrix FDTD simulator.

Write descriptions from structures in the user's units with automatic mesh
lines (fendrix_tools.model), remesh and draw descriptions, read results
datasets, summarise them, plot them, and assemble full scattering matrices
from one simulator run per port (Touchstone output).

    import fendrix_tools as ft
    m = ft.Model("line", unit="mm", frequency_unit="GHz")
    ...
    ds = m.run()                           # an ft.Dataset
    ft.sweep("line.txt", output="line.s2p", threads=2)
    ft.converge(m, tol=0.02)

Importing the package loads numpy only; the plotting modules load
matplotlib when they are used.
"""

__version__ = "0.9.0"

from .checks import ModelError
from .converge import converge
from .dataset import Dataset, DatasetError, read_dataset
from .model import Model
from .simulator import RunOptions, SimulatorError
from .sweep import sweep

__all__ = ["Dataset", "DatasetError", "Model", "ModelError", "RunOptions", "SimulatorError",
           "__version__", "converge", "read_dataset", "sweep"]
