"""Build glue for pip install .: the simulator is built with CMake and placed
among the scripts, so that pip installs it into the environment's bin/ beside
the fendrix-tools command.  Everything else is in pyproject.toml.

CMAKE_ARGS adds configure options (e.g. CMAKE_ARGS=-DFENDRIX_MPI=OFF for a
binary without MPI); CMAKE_BUILD_PARALLEL_LEVEL sets the compile jobs.
"""

import os
import shlex
import shutil
from pathlib import Path

from setuptools import Distribution, setup
from distutils.command.build_scripts import build_scripts  # setuptools' own copy
from distutils.errors import DistutilsExecError

ROOT = Path(__file__).resolve().parent


class BinaryDistribution(Distribution):
    """A wheel that carries a compiled program is tied to its platform."""

    def has_ext_modules(self):
        return True


class BuildSimulator(build_scripts):
    """Configure and build the simulator (Release, without the tests and the
    benchmarks), install it into a staging folder through CMake's install rule
    and copy it to where the scripts are collected."""

    def get_source_files(self):  # a built program, no source file of its own
        return []

    def run(self):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise DistutilsExecError("building fendrix needs CMake 3.20 or later and a C++20 "
                                     "compiler: install them (apt-get install cmake g++ "
                                     "ninja-build) and run pip again")
        work = Path(self.get_finalized_command("build").build_temp).resolve() / "cmake"
        stage = work / "stage"
        configure = [cmake, "-S", str(ROOT), "-B", str(work), "-DCMAKE_BUILD_TYPE=Release",
                     "-DFENDRIX_TESTS=OFF", "-DFENDRIX_BENCH=OFF"]
        if shutil.which("ninja") and not (work / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        self.spawn(configure + shlex.split(os.environ.get("CMAKE_ARGS", "")))
        jobs = [] if os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") else [str(os.cpu_count() or 1)]
        self.spawn([cmake, "--build", str(work), "--target", "fendrix", "--parallel", *jobs])
        self.spawn([cmake, "--install", str(work), "--prefix", str(stage), "--strip"])
        self.mkpath(self.build_dir)
        self.copy_file(str(stage / "bin" / "fendrix"), os.path.join(self.build_dir, "fendrix"))


setup(
    distclass=BinaryDistribution,
    scripts=["fendrix"],  # the program BuildSimulator makes, installed into bin/
    cmdclass={"build_scripts": BuildSimulator},
    # build/ of a checkout is the developers' CMake build: keep pip's apart
    options={"build": {"build_base": "build-pip"}},
)
