"""Python tools around the Fendrix FDTD simulator.

Write descriptions from structures in the user's units with automatic mesh
lines (fendrix_tools.model), remesh and draw descriptions, read results
datasets, summarise them, plot them, and assemble full scattering matrices
from one simulator run per port (Touchstone output).
"""

from .dataset import Dataset, DatasetError, read_dataset

__all__ = ["Dataset", "DatasetError", "read_dataset"]
