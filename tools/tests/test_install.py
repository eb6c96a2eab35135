"""pip install of the project into a fresh virtual environment, offline.

The simulator is built from a clean copy of the checkout with CMake and must
land in the environment's bin/ beside fendrix-tools; the installed package
must start that binary by itself, with no PYTHONPATH and no FENDRIX_BINARY,
from a folder outside the checkout.  The build takes a few minutes on two
cores: -m "not install" leaves this test out while iterating.
"""

import json
import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]

pytestmark = pytest.mark.install

MODEL = textwrap.dedent("""
    import json, sys
    import fendrix_tools as ft

    m = ft.Model("line", unit="mm", frequency_unit="GHz")
    m.band(2, 10, points=21)
    m.limits(pulses=20, energy=1e-3)
    m.boundaries("absorbing", zlow="electric")
    m.domain(x=(-3, 13))
    m.dielectric("substrate", eps_r=3.38).box((-3, -6, 0), (13, 6, 0.508))
    m.metal("copper").sheet((0, -0.6, 0.508), (10, 0.6, 0.508))
    m.port((0, 0, 0), (0, 0, 0.508), impedance=50)
    m.port((10, 0, 0), (10, 0, 0.508), impedance=50)
    ds = m.run(workdir="run", keep=True)
    s21 = [abs(v) for v in ds.s[1]]  # (port, frequency)
    json.dump({"binary": ft.simulator.default_binary(), "package": ft.__file__,
               "version": ft.__version__, "ports": ds.port_count,
               "s21": [min(s21), max(s21)]}, sys.stdout)
""")


def why_not():
    """What this machine lacks for the install, or None."""
    try:
        import ensurepip  # noqa: F401  Debian's python3-venv
        import setuptools  # noqa: F401
        import wheel  # noqa: F401
    except ImportError as e:
        return f"{e.name} missing (apt-get install python3-venv python3-setuptools python3-wheel)"
    for tool in ("git", "cmake"):
        if shutil.which(tool) is None:
            return f"{tool} not found"
    inside = subprocess.run(["git", "-C", str(REPO), "rev-parse", "--is-inside-work-tree"],
                            capture_output=True)
    return None if inside.returncode == 0 else f"{REPO} is not a git checkout"


def clean_copy(dest):
    """The checkout's files as they are now (tracked, or new and not ignored),
    without build folders or anything else git ignores."""
    names = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                           cwd=REPO, capture_output=True, check=True).stdout.split(b"\0")
    for name in filter(None, names):
        src = REPO / os.fsdecode(name)
        if src.is_file():  # not a file deleted but not yet committed
            (dest / os.fsdecode(name)).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(src, dest / os.fsdecode(name))


def test_pip_install_gives_simulator_tools_and_command(tmp_path):
    reason = why_not()
    if reason:
        pytest.skip(reason)
    src, env_dir, work = tmp_path / "src", tmp_path / "env", tmp_path / "work"
    clean_copy(src)
    work.mkdir()
    # as a user's shell would be: nothing pointing into the checkout
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "FENDRIX_BINARY", "VIRTUAL_ENV", "PYTHONHOME")}
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"

    def call(*cmd, timeout=60):
        done = subprocess.run([str(c) for c in cmd], cwd=work, env=env, capture_output=True,
                              text=True, timeout=timeout)
        assert done.returncode == 0, f"{cmd}:\n{done.stdout[-3000:]}\n{done.stderr[-3000:]}"
        return done.stdout

    call(sys.executable, "-m", "venv", "--system-site-packages", env_dir)
    bin_dir = env_dir / "bin"
    call(bin_dir / "python", "-m", "pip", "install", "--no-build-isolation", "--no-index",
         "--no-cache-dir", src, timeout=1800)

    assert call(bin_dir / "fendrix", "--help").startswith("Usage: fendrix DESCRIPTION")
    assert call(bin_dir / "fendrix-tools", "--help").startswith("usage: fendrix-tools ")
    got = json.loads(call(bin_dir / "python", "-c", MODEL, timeout=300).splitlines()[-1])
    assert got["binary"] == str(bin_dir / "fendrix")
    assert Path(got["package"]).is_relative_to(env_dir)
    assert got["ports"] == 2 and 0.9 < got["s21"][0] <= got["s21"][1] < 1.05
    assert "S21" in call(bin_dir / "fendrix-tools", "summary", "run/line.dat")
