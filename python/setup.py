"""Build of the Python package: the version comes from the source tree's VERSION, and the
package carries a copy of include/tolvan.h, from which it types every function at import.

    pip install --no-build-isolation ./python
"""
import os
import shutil

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SHIPPED = {"tolvan.h": os.path.join(ROOT, "include", "tolvan.h"),
           "VERSION": os.path.join(ROOT, "VERSION")}


def version():
    for path in (SHIPPED["VERSION"], os.path.join(HERE, "tolvan", "VERSION")):
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                return f.read().strip()
    raise RuntimeError("VERSION not found: build the package from the libtolvan source tree")


class BuildPy(build_py):
    def run(self):
        super().run()
        for name, source in SHIPPED.items():
            if not os.path.exists(source):
                raise RuntimeError(f"{source} not found: build from the libtolvan source tree")
            shutil.copyfile(source, os.path.join(self.build_lib, "tolvan", name))


setup(version=version(), cmdclass={"build_py": BuildPy})
