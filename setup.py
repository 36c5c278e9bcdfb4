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
  missing_requirements what the interpreter running this file lacks to build the package (and
                       to run it); a build stops at once with one message naming them, before
                       setuptools could fail on the first with a message of its own (a python3
                       without wheel: "invalid command 'bdist_wheel'")
"""
import atexit
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile

SOURCE_DIR = os.path.dirname(os.path.abspath(__file__))
# Modules a build needs, and those the package imports, each with the name pip installs it by.
BUILD_MODULES = {"setuptools": "setuptools", "pybind11": "pybind11"}
RUN_MODULES = {"numpy": "numpy", "Bio": "biopython", "matplotlib": "matplotlib"}
# Where Debian's pybind11-dev puts the CMake package, which CMake finds for any interpreter.
PYBIND11_CMAKE_PACKAGES = ("/usr/lib/cmake/pybind11", "/usr/share/cmake/pybind11",
                           "/usr/local/lib/cmake/pybind11", "/usr/local/share/cmake/pybind11")


def _has_module(name):
    try:
        return importlib.util.find_spec(name) is not None
    except ImportError:
        return False


def missing_requirements():
    """Return (build, run): what this interpreter lacks to build the package and to run it.
    build: the pip names of missing modules (wheel where setuptools cannot write a wheel by
    itself, pybind11 where neither its module nor its CMake package is found), "Python.h" for
    missing C headers and "cmake" for a missing cmake command; run: the pip names of the
    modules the package imports that are missing (a build isolated from the environment it
    installs into sees none of them, so they stop no build)."""
    build = [pip for module, pip in BUILD_MODULES.items()
             if not _has_module(module)
             and not (module == "pybind11"
                      and any(os.path.isdir(path) for path in PYBIND11_CMAKE_PACKAGES))]
    if not _has_module("setuptools.command.bdist_wheel") and not _has_module("wheel"):
        build.insert(1 if "setuptools" in build else 0, "wheel")
    if not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")):
        build.append("Python.h")
    if shutil.which("cmake") is None:
        build.append("cmake")
    run = [pip for module, pip in RUN_MODULES.items() if not _has_module(module)]
    return build, run


def refuse_without_requirements():
    """Stop a build, with one message, where this interpreter lacks what it needs: which pieces
    are missing, and the two ways to get them."""
    build, run = missing_requirements()
    if not build or "sdist" in sys.argv[1:]:
        return
    modules = [name for name in build + run if name not in ("Python.h", "cmake")]
    routes = ["use Debian's /usr/bin/python3, which tools/install-deps.sh gives all of them "
              "(/usr/bin/python3 -m venv --system-site-packages v && v/bin/pip install "
              "--no-build-isolation --no-index .)"]
    if modules:
        routes.append(f"or add them to this one ({sys.executable} -m pip install "
                      f"{' '.join(modules)})")
    if "Python.h" in build:
        routes.append("and install its C headers (Debian: python3-dev)")
    if "cmake" in build:
        routes.append("and the cmake command (Debian: cmake)")
    lacks = ", ".join(build) + (f" (and to run it: {', '.join(run)})" if run else "")
    sys.exit(f"setup.py: {sys.executable} lacks what building marrowind needs: {lacks}; "
             f"{' '.join(routes)}")


refuse_without_requirements()

from setuptools import Extension, find_packages, setup  # noqa: E402 (after the check above)
from setuptools.command.build import build  # noqa: E402
from setuptools.command.build_ext import build_ext  # noqa: E402
from setuptools.command.egg_info import egg_info  # noqa: E402


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
