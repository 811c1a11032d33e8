"""Builds the vantor wheel from the project's CMake build.

The build step configures the project with the release settings (the component, the runtime and
the Python host; no tests, fuzzers or benchmarks), builds it in build-wheel/ beside this file
($VANTOR_WHEEL_BUILD_DIR to put it elsewhere; kept, so a second build only recompiles what
changed and ccache is used when it is installed) and stages the `python` install component: the
vantor package with its stubs, its extension, libvantor.so and the libraries it needs, all in one
folder and found through the extension's run path ($ORIGIN).

    pip install --no-build-isolation --user .
    python3 -m build --no-isolation --wheel
"""
import os
import re
import shutil
import subprocess
import sys

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        found = re.search(r"project\(\s*Vantor\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


def build_dir():
    return os.path.abspath(os.environ.get("VANTOR_WHEEL_BUILD_DIR") or os.path.join(ROOT, "build-wheel"))


def configured_elsewhere(folder):
    """Whether the folder holds a CMake build of another source tree (a moved checkout)."""
    try:
        with open(os.path.join(folder, "CMakeCache.txt")) as f:
            cache = f.read()
    except OSError:
        return False
    found = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", cache, re.M)
    return bool(found) and os.path.realpath(found.group(1)) != os.path.realpath(ROOT)


def run(command):
    print("+ " + " ".join(command), flush=True)
    subprocess.run(command, check=True)


class CMakeBuildPy(build_py):
    """Builds the package with CMake and copies the staged package into the wheel's tree."""

    def run(self):
        if shutil.which("cmake") is None:
            raise RuntimeError("building vantor needs cmake (Debian: apt-get install cmake ninja-build)")
        folder = build_dir()
        if configured_elsewhere(folder):
            shutil.rmtree(folder)
        configure = ["cmake", "-S", ROOT, "-B", folder,
                     "-DCMAKE_BUILD_TYPE=Release",
                     "-DVANTOR_TESTS=OFF", "-DVANTOR_BENCH=OFF", "-DVANTOR_FUZZ=OFF",
                     "-DVANTOR_SANITIZE=OFF", "-DVANTOR_PYTHON=ON",
                     f"-DPython3_EXECUTABLE={sys.executable}", f"-DPYTHON_EXECUTABLE={sys.executable}"]
        if not os.path.exists(os.path.join(folder, "CMakeCache.txt")) and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        if shutil.which("ccache"):
            for language in ("C", "CXX"):
                if not os.environ.get(f"CMAKE_{language}_COMPILER_LAUNCHER"):
                    configure.append(f"-DCMAKE_{language}_COMPILER_LAUNCHER=ccache")
        run(configure)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        run(["cmake", "--build", folder, "--target", "vantor-python", "vantor-xdump", "--parallel", jobs])
        stage = os.path.join(folder, "stage")
        shutil.rmtree(stage, ignore_errors=True)
        run(["cmake", "--install", folder, "--component", "python", "--prefix", stage])
        target = os.path.join(self.build_lib, "vantor")
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(os.path.join(stage, "python", "vantor"), target, symlinks=False)


class BinaryDistribution(Distribution):
    """The package holds compiled code: its wheel is tagged for this Python and platform."""

    def has_ext_modules(self):
        return True


setup(
    version=project_version(),
    packages=["vantor"],
    package_dir={"vantor": "python/vantor"},
    cmdclass={"build_py": CMakeBuildPy},
    distclass=BinaryDistribution,
    options={"build": {"build_base": os.path.join(build_dir(), "setuptools")}},
    zip_safe=False,
)
