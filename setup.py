"""setup.py: builds the Python package marrowind with setuptools, its compiled core by CMake.

pyproject.toml holds the package's metadata. This file adds what a declaration cannot say, and
where the package's sources lie (python/marrowind), which Debian's setuptools would read from
pyproject.toml only with a warning that the feature is in beta. Contents:
  version_from_cmake   the version, read from the project() line of CMakeLists.txt, its one home
  CMakeBuild           build_ext: configures the project's own CMake build in a scratch folder,
                       builds the extension module marrowind._core alone and copies it, with the
                       matrices CMake puts beside it, into the package
  ScratchBuild         build: setuptools' work goes to a fresh temporary folder, not ./build,
                       where the CMake build of the README lives
  EggInfoInScratch     egg_info: the metadata it writes goes there too, so that a build leaves
                       the source tree as it found it
"""
import atexit
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile

from setuptools import Extension, find_packages, setup
from setuptools.command.build import build
from setuptools.command.build_ext import build_ext
from setuptools.command.egg_info import egg_info

SOURCE_DIR = os.path.dirname(os.path.abspath(__file__))


def version_from_cmake():
    """Return the VERSION of CMakeLists.txt's project() call."""
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt"), encoding="utf-8") as cmake_lists:
        found = re.search(r"project\(\s*Marrowind\s+VERSION\s+([0-9.]+)", cmake_lists.read())
    if not found:
        sys.exit("setup.py: CMakeLists.txt names no project version")
    return found.group(1)


class ScratchBuild(build):
    """The build folder defaults to a temporary one, removed at exit, instead of ./build: the
    developer's CMake build lives there, and a build folder kept between runs would carry the
    files of modules since removed into the next wheel. --build-base (or setup.cfg's [build]
    build_base) still chooses a folder that is kept, to rebuild only what changed."""

    def initialize_options(self):
        super().initialize_options()
        self.build_base = None

    def finalize_options(self):
        if self.build_base is None:
            self.build_base = tempfile.mkdtemp(prefix="marrowind-build-")
            atexit.register(shutil.rmtree, self.build_base, ignore_errors=True)
        super().finalize_options()


class EggInfoInScratch(egg_info):
    """egg_info writes beside the sources unless told where; here it goes to the build
    folder. dist_info (pip's metadata step) names its own folder, which is kept."""

    def finalize_options(self):
        if self.egg_base is None:
            self.egg_base = self.get_finalized_command("build").build_base
        super().finalize_options()


class CMakeBuild(build_ext):
    """Builds marrowind._core with the project's CMake build, so that the module is compiled
    with exactly the flags (no contraction into fused multiply-adds, no fast math) that make its
    scores equal the program's bit for bit. Only the module's target is built: the program,
    the tests and the benchmarks are left out."""

    def build_extension(self, ext):
        cmake_dir = os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = [
            "cmake", "-S", SOURCE_DIR, "-B", cmake_dir, "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}", "-DMARROWIND_BUILD_PYTHON=ON",
            "-DMARROWIND_BUILD_TESTS=OFF",
        ]
        try:
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # CMake looks for pybind11's CMake package itself (Debian: pybind11-dev)
        jobs = self.parallel or len(os.sched_getaffinity(0))
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", cmake_dir, "--target", "marrowind_python",
                        "--parallel", str(jobs)], check=True)

        # CMake assembles the package in CMAKE_DIR/python/marrowind: the module and data/.
        built_package = os.path.join(cmake_dir, "python", "marrowind")
        module = os.path.join(built_package, "_core" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(module, target)
        shutil.copytree(os.path.join(built_package, "data"),
                        os.path.join(os.path.dirname(target), "data"), dirs_exist_ok=True)


setup(
    version=version_from_cmake(),
    package_dir={"": "python"},
    # The package and its subpackages (marrowind.batch).
    packages=find_packages("python", include=["marrowind", "marrowind.*"]),
    # The HTML report's page and its bundled script.
    package_data={"marrowind": ["assets/*"]},
    ext_modules=[Extension("marrowind._core", sources=[])],
    cmdclass={"build": ScratchBuild, "build_ext": CMakeBuild, "egg_info": EggInfoInScratch},
)
