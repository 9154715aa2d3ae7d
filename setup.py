"""The Python module zugen4 for `pip install .`: CMake builds the library and
the compiled part (_zugen4); both land in the package directory, the compiled
part finding the library beside it ($ORIGIN), so the installed package needs
nothing else from this tree. The version is the project version in
CMakeLists.txt."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
VERSION = re.search(r"^project\(ZuGen4 VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text(), re.M).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve().parent
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        # The compiled part is built with the run path it has when installed
        # beside the library: $ORIGIN.
        subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                               "-DZUGEN_BUILD_TESTS=OFF", "-DZUGEN_BUILD_BENCH=OFF", "-DZUGEN_BUILD_EXAMPLES=OFF",
                               "-DZUGEN_BUILD_PYTHON=ON", f"-DZUGEN_PYTHON_EXECUTABLE={sys.executable}",
                               "-DCMAKE_INSTALL_PREFIX=/opt/zugen4-wheel", "-DZUGEN_PYTHON_INSTALL_DIR=pkg",
                               "-DCMAKE_INSTALL_LIBDIR=pkg/zugen4", "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON"])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 2)
        subprocess.check_call(["cmake", "--build", str(build), "--target", "_zugen4", "-j", jobs])
        compiled = sorted((build / "python" / "zugen4").glob("_zugen4*.so"))
        if not compiled:
            raise RuntimeError("the compiled part was not built: pybind11-dev and python3-dev are needed")
        # The library under its soname: the link that names it, followed (a
        # wheel keeps no links).
        libraries = sorted(build.glob("libzugen.so.*"))
        libraries = [p for p in libraries if p.is_symlink()] or libraries
        target.mkdir(parents=True, exist_ok=True)
        for f in compiled + libraries:
            dest = target / f.name
            if dest.is_symlink() or dest.exists():
                dest.unlink()
            shutil.copy2(f, dest, follow_symlinks=True)

setup(
    name="zugen4",
    version=VERSION,
    description="Drive a ZuGen4 two-channel DDS signal generator, or a simulated one",
    packages=["zugen4"],
    package_dir={"zugen4": "python/zugen4"},
    ext_modules=[Extension("zugen4._zugen4", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.8",
    zip_safe=False,
)
