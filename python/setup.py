"""Builds the package with the library inside it: CMake builds the shared library from the source
tree this folder belongs to (Release, nothing else), and the file lands in the package's folder,
where the binding looks first. Scratch files go to the tree's build/python-package, none into
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

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SCRATCH = os.path.join(ROOT, "build", "python-package")

if sys.platform == "win32":
    LIBRARY = "tarnwick-kelvane.dll"
elif sys.platform == "darwin":
    LIBRARY = "libtarnwick-kelvane.1.dylib"
else:
    LIBRARY = "libtarnwick-kelvane.so.1"


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
                               "-DKELVANE_INSTALL=OFF"])
        subprocess.check_call([cmake, "--build", build, "--target", "kelvane", "--config",
                               "Release", "--parallel"])
        for folder, _, names in os.walk(build):
            if LIBRARY in names:
                built = os.path.realpath(os.path.join(folder, LIBRARY))
                shutil.copyfile(built, os.path.join(self.build_lib, "kelvane", LIBRARY))
                return
        sys.exit(f"the build made no {LIBRARY}")


class BinaryDistribution(Distribution):
    """A wheel for this platform: the package holds a compiled library."""

    def has_ext_modules(self):
        return True


os.makedirs(SCRATCH, exist_ok=True)
setup(cmdclass={"build_py": BuildWithLibrary}, distclass=BinaryDistribution,
      options={"build": {"build_base": os.path.join(SCRATCH, "build")},
               "egg_info": {"egg_base": SCRATCH}})
