"""Circuit figures against hand-computed values, and non-passive results flagged."""

import numpy as np

from fendrix_tools import read_dataset
from fendrix_tools.circuit import matrix_warning
from fendrix_tools.dataset import write_dataset
from fendrix_tools.plot import plot_dataset
from fendrix_tools.summary import summarize

F = np.linspace(1e9, 5e9, 41)


def notch(path, s21_scale=1.0):
    """|S21| falls linearly in dB from -1 dB to -41 dB at 3 GHz and back,
    crossing -20 dB at 3 -/+ 1.05 GHz; S11 = 0.2 everywhere: Zin = 50 * 1.2 / 0.8
    = 75 ohm, VSWR 1.5."""
    s21_db = -41 + 40 * np.abs(F - 3e9) / 2e9
    write_dataset(path, F, [np.full(41, 0.2 + 0j), s21_scale * 10 ** (s21_db / 20) + 0j])
    return read_dataset(path)


def test_stop_band_insertion_loss_and_input_impedance(tmp_path):
    text = summarize(notch(tmp_path / "n.dat"), at=[2e9])
    assert "|S21| minimum: -41.00 dB at 3 GHz" in text
    assert "Stop band (|S21| <= -20 dB): 1.95 GHz to 4.05 GHz (2100 MHz)" in text
    assert "Insertion loss: 1.00 dB (least, at 1 GHz)" in text
    assert "Pass band (loss within 3 dB of that): 1 GHz to 1.15 GHz" in text
    assert "         2        75.00         0.00      1.5" in text
    assert "not passive" not in text


def test_non_passive_results_are_flagged(tmp_path, capsys):
    ds = notch(tmp_path / "gain.dat", s21_scale=10 ** (6 / 20))  # |S21| up to +5 dB
    assert "WARNING: not passive" in summarize(ds)
    plot_dataset(ds, tmp_path)
    assert "WARNING: not passive" in capsys.readouterr().err
    # Every entry below 1, yet together they give out more than comes in.
    s = np.full((3, 2, 2), 0.8 + 0j)
    assert "singular value is 1.600" in matrix_warning(s, F[:3])
    assert matrix_warning(np.array([[[0, 1], [1, 0]]] * 3, complex), F[:3]) is None
