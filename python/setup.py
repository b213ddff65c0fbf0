"""Builds the package with the library inside it: CMake builds the shared library and its host
layer from the source tree this folder belongs to (Release, nothing else), both land in the
package's folder, where the binding looks first, with the operations' types written from the host
layer's table. The wheel is tagged py3-none-<platform>: it holds no extension module of
Python's, only the libraries for this platform. Scratch files go to the tree's build/python-package, none into
this folder. Offline, with setuptools and wheel from the system:

    pip install --no-build-isolation ./python
    pip wheel --no-build-isolation --no-deps -w dist ./python
"""
import os
import shutil
import subprocess
import sys

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution
from wheel.bdist_wheel import bdist_wheel

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SCRATCH = os.path.join(ROOT, "build", "python-package")

if sys.platform == "win32":
    LIBRARIES = ("tarnwick-kelvane.dll", "tarnwick-kelvane-host.dll")
elif sys.platform == "darwin":
    LIBRARIES = ("libtarnwick-kelvane.1.dylib", "libtarnwick-kelvane-host.1.dylib")
else:
    LIBRARIES = ("libtarnwick-kelvane.so.1", "libtarnwick-kelvane-host.so.1")


class BuildWithLibrary(build_py):
    """The package's modules, then the library built beside them."""

    def run(self):
        super().run()
        if not os.path.exists(os.path.join(ROOT, "CMakeLists.txt")):
            sys.exit("the library's sources are not beside this folder: build from the project's "
                     "tree (pip install ./python)")
        cmake = shutil.which("cmake")
        if not cmake:
            sys.exit("building the library needs CMake and a C++ compiler (scripts/setup-deps.sh)")
        build = os.path.join(SCRATCH, "cmake")
        subprocess.check_call([cmake, "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                               "-DKELVANE_BUILD_TESTS=OFF", "-DKELVANE_BUILD_EXAMPLES=OFF",
                               "-DKELVANE_BUILD_TOOLS=OFF",
                               "-DKELVANE_INSTALL=OFF"])
        subprocess.check_call([cmake, "--build", build, "--target", "kelvane", "kelvane_host",
                               "--config", "Release", "--parallel", str(os.cpu_count() or 1)])
        package = os.path.join(self.build_lib, "kelvane")
        for library in LIBRARIES:
            found = [os.path.join(folder, library) for folder, _, names in os.walk(build)
                     if library in names]
            if not found:
                sys.exit(f"the build made no {library}")
            shutil.copyfile(os.path.realpath(found[0]), os.path.join(package, library))
        subprocess.check_call([sys.executable, os.path.join(HERE, "write_stubs.py"),
                               os.path.join(package, LIBRARIES[1]),
                               os.path.join(package, "_operations.pyi")])


class BinaryDistribution(Distribution):
    """A wheel for this platform: the package holds compiled libraries."""

    def has_ext_modules(self):
        return True


class PlatformWheel(bdist_wheel):
    """py3-none-<platform>: any Python 3 of this platform, since ctypes loads the libraries."""

    def get_tag(self):
        return ("py3", "none") + tuple(super().get_tag()[2:])


os.makedirs(SCRATCH, exist_ok=True)
setup(cmdclass={"build_py": BuildWithLibrary, "bdist_wheel": PlatformWheel},
      distclass=BinaryDistribution,
      options={"build": {"build_base": os.path.join(SCRATCH, "build")},
               "egg_info": {"egg_base": SCRATCH}})
