"""Summary text and figures from a synthetic antenna dataset."""

import numpy as np
import pytest

from fendrix_tools import read_dataset
from fendrix_tools.cli import main
from fendrix_tools.dataset import write_dataset
from fendrix_tools.plot import plot_dataset, principal_cuts
from fendrix_tools.summary import far_field_frequency, pattern_integral, summarize

PNG = b"\x89PNG\r\n\x1a\n"


def antenna(path):
    """S11 falls linearly in dB to -20 dB at 2 GHz and rises again, crossing
    -10 dB at 1.5 and 2.5 GHz.  The pattern is that of a short dipole along z
    (D = 1.5 cos^2(elevation)) tilted towards azimuth 90 by a small bump."""
    f = np.linspace(1e9, 3e9, 21)
    s11 = 10 ** ((-20 + 20 * np.abs(f - 2e9) / 1e9) / 20) * np.exp(1j * np.linspace(0, 3, 21))
    s21 = 0.5 * np.exp(-1j * np.linspace(0, 6, 21))
    az, el = np.linspace(-180, 180, 37), np.linspace(-90, 90, 19)
    A, E = np.meshgrid(np.radians(az), np.radians(el))
    d = 1.5 * np.cos(E) ** 2 * (1 + 0.2 * np.cos(A - np.pi / 2))
    write_dataset(path, f, [s11, s21], dict(pattern=d, e_azimuth=np.zeros_like(d, complex), azimuth=az,
                  e_elevation=np.sqrt(d / d.max()) + 0j, directivity_dbi=10 * np.log10(d.max()),
                  efficiency=87.5, elevation=el))
    return path


def test_summary_values(tmp_path):
    ds = read_dataset(antenna(tmp_path / "ant.dat"))
    text = summarize(ds)
    for line in ["Ports: 2", "Band: 1 GHz to 3 GHz, 21 points (100 MHz steps)",
                 "Best match: S11 = -20.00 dB at 2 GHz", "-10 dB bandwidth: 1.5 GHz to 2.5 GHz (1000 MHz, 50.0 %)",
                 "Max. directivity: 2.55 dBi", "Efficiency: 87.5 %",  # 1.8 linear
                 "Main direction: azimuth 90.0 deg, elevation 0.0 deg"]:
        assert line in text
    # |S21| = 0.5 is -6.02 dB at every listed frequency: no stop band, no notch
    assert text.count("-6.02") == 5 and "No stop band (|S21| stays above -20 dB)" in text
    assert "Pattern integral (closed integral of D over 4 pi): 0.999" in text and "integrates" not in text


def test_bandwidth_at_band_edge_and_none(tmp_path):
    f = np.linspace(1e9, 2e9, 11)
    write_dataset(tmp_path / "a.dat", f, [np.full(11, 0.1 + 0j)])
    assert "reaches the lower and upper band edge" in summarize(read_dataset(tmp_path / "a.dat"))
    write_dataset(tmp_path / "b.dat", f, [np.full(11, 0.5 + 0j)])
    assert "none (S11 stays above -10 dB)" in summarize(read_dataset(tmp_path / "b.dat"))


def test_principal_cuts_follow_the_grid(tmp_path):
    ds = read_dataset(antenna(tmp_path / "ant.dat"))
    (az, dh), (ang, dv) = principal_cuts(ds)
    assert len(az) == 37 and np.argmax(dh) == 27  # azimuth 90
    # vertical cut: 0 deg on the horizon at azimuth 0, 90 deg at zenith, where
    # the dipole has its null
    assert ang[0] == -90 and ang[-1] == 270 and len(ang) == 38
    assert dv[np.where(ang == 90)[0][0]] < -100
    assert dv[np.where(ang == 0)[0][0]] == pytest.approx(10 * np.log10(1.5))


def test_plots_are_written(tmp_path, capsys):
    assert main(["plot", str(antenna(tmp_path / "ant.dat")), "-o", str(tmp_path / "fig")]) == 0
    names = sorted(p.name for p in (tmp_path / "fig").iterdir())
    assert names == ["ant_cuts.png", "ant_directivity.png", "ant_s.png", "ant_smith.png"]
    for p in (tmp_path / "fig").iterdir():
        assert p.read_bytes()[:8] == PNG and p.stat().st_size > 10000
    # a circuit without far field gets only the two S figures
    f = np.linspace(1e9, 2e9, 5)
    write_dataset(tmp_path / "c.dat", f, [np.full(5, 0.2j)])
    assert len(plot_dataset(read_dataset(tmp_path / "c.dat"), tmp_path / "c")) == 2


    (tmp_path / "bad.dat").write_bytes(b"hello")
    assert main(["summary", str(tmp_path / "bad.dat")]) == 1
    assert "not a Fendrix results dataset" in capsys.readouterr().err


def test_broken_values_are_reported_not_raised(tmp_path, capsys):
    """An unstable run's NaN pattern: summary and the S figures still come, with a warning."""
    nan = np.full((2, 3), np.nan)
    write_dataset(tmp_path / "n.dat", [1e9, 2e9], [[np.nan, 0.5]], dict(
        pattern=nan, e_azimuth=nan + 0j, e_elevation=nan + 0j, directivity_dbi=np.nan,
        efficiency=np.nan, azimuth=[0, 90, 180], elevation=[0, 45]))
    assert main(["plot", str(tmp_path / "n.dat"), "-o", str(tmp_path)]) == 0
    assert main(["summary", str(tmp_path / "n.dat")]) == 0
    out, err = capsys.readouterr()
    assert out.count("Wrote") == 2 and "pattern holds no finite value" in err


@pytest.mark.parametrize("shape, total", [
    (lambda A, E: np.ones_like(E), 1.0),  # isotropic
    (lambda A, E: 1.5 * np.cos(E) ** 2, 1.0),  # short dipole along z
    (lambda A, E: 1.2 * np.ones_like(E), 1.2),  # more power than was radiated: warned
])
def test_pattern_integral(tmp_path, shape, total):
    az, el = np.linspace(-180, 180, 73), np.linspace(-90, 90, 37)
    A, E = np.meshgrid(np.radians(az), np.radians(el))
    d = shape(A, E)
    f = np.linspace(1e9, 3e9, 5)
    write_dataset(tmp_path / "p.dat", f, [np.full(5, 0.5 + 0j)],
                  dict(pattern=d, e_azimuth=np.zeros_like(d, complex), e_elevation=np.ones_like(d, complex),
                       directivity_dbi=10 * np.log10(d.max()), efficiency=90.0, azimuth=az, elevation=el))
    (tmp_path / "p.txt").write_text("# x\nSim 20 1e-4 4 p.dat\nFreq 2 1e9 3e9 5\nRadiation 2.4e9 73 37 4\n")
    ds = read_dataset(tmp_path / "p.dat")
    assert pattern_integral(ds) == pytest.approx(total, abs=2e-3)
    text = summarize(ds, far_frequency=far_field_frequency(tmp_path / "p.dat"))
    assert "Far field at 2.4 GHz" in text and "Max. directivity" in text
    assert ("WARNING: the pattern integrates to 1.200" in text) == (total != 1.0)
