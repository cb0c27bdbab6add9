"""Builds and installs the ici3d Python package.

    pip install ./python                         # in a virtual environment
    pip install --break-system-packages ./python # into Debian's own Python

Needs CMake, a C++17 compiler and the Debian packages of scripts/deps.sh;
nothing is downloaded. The extension is built by the project's CMake build
(target ici3d_python) and the core library is copied next to it, so the
installed package is self-contained.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent


def project_version():
    """MAJOR.MINOR.PATCH from the public header, where it is written once."""
    header = (ROOT / "include" / "ici3d.h").read_text()
    return ".".join(re.search(rf"#define ICI3D_VERSION_{part} (\d+)", header).group(1)
                    for part in ("MAJOR", "MINOR", "PATCH"))


class CMakeBuild(build_ext):
    """Builds the extension with CMake instead of setuptools' compiler calls."""

    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.check_call([
            "cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
            "-DICI3D_BUILD_PYTHON=ON", "-DICI3D_PYTHON_BUNDLE=ON", "-DBUILD_TESTING=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}"])
        subprocess.check_call(["cmake", "--build", str(build), "--target", "ici3d_python",
                               "-j", str(os.cpu_count() or 1)])
        destination = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        destination.mkdir(parents=True, exist_ok=True)
        for library in (build / "python" / "ici3d").glob("*.so*"):
            shutil.copy2(library, destination / library.name)


setup(
    name="ici3d",
    version=project_version(),
    description="Point-cloud denoising by intersection of confidence intervals",
    packages=["ici3d"],
    ext_modules=[Extension("ici3d._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy"],
    zip_safe=False,
)
