"""Python tools around the Fendrix FDTD simulator.

Read results datasets, summarise them, plot them, and assemble full
scattering matrices from one simulator run per port (Touchstone output).
"""

from .dataset import Dataset, DatasetError, read_dataset

__all__ = ["Dataset", "DatasetError", "read_dataset"]
