"""Builds the tovik16 module with CMake, after pybind11's cmake_example.

    python3 -m pip install --no-build-isolation ./python

The extension is the project's CMake target tovik16_python, configured from the repository root
without the viewer, tests and benchmarks, for the interpreter running this script.
"""

import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent.parent


class CMakeExtension(Extension):
    def __init__(self, name: str, sourcedir: Path) -> None:
        super().__init__(name, sources=[])
        self.sourcedir = os.fspath(sourcedir)


class CMakeBuild(build_ext):
    def build_extension(self, ext: CMakeExtension) -> None:
        extdir = (Path.cwd() / self.get_ext_fullpath(ext.name)).parent.resolve()
        config = "Debug" if self.debug else "Release"
        cmake_args = [
            f"-DTOVIK_PYTHON_PACKAGE_DIR={extdir}",
            f"-DPython3_EXECUTABLE={sys.executable}",
            f"-DCMAKE_BUILD_TYPE={config}",
            "-DTOVIK_BUILD_PYTHON=ON",
            "-DTOVIK_BUILD_GUI=OFF",
            "-DTOVIK_BUILD_TESTS=OFF",
            "-DTOVIK_BUILD_BENCH=OFF",
        ]
        cmake_args += [a for a in os.environ.get("CMAKE_ARGS", "").split() if a]
        build_temp = Path(self.build_temp) / ext.name
        build_temp.mkdir(parents=True, exist_ok=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", ext.sourcedir, *cmake_args], cwd=build_temp, check=True)
        subprocess.run(["cmake", "--build", ".", "--target", "tovik16_python", "-j", jobs],
                       cwd=build_temp, check=True)


def project_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*tovik16\s+VERSION\s+([0-9.]+)", text).group(1)


setup(
    version=project_version(),
    packages=["tovik16"],
    package_data={"tovik16": ["py.typed", "*.pyi"]},
    ext_modules=[CMakeExtension("tovik16._tovik16", ROOT)],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
