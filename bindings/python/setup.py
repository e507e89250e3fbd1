"""The Python package tvkcrypto: pure Python over the shared library's C
interface with ctypes, so nothing is compiled to install it.

    pip install ./bindings/python

installs the package alone; it then loads libtvkcrypto.so.1 from
TVKCRYPTO_LIBRARY or from the system. With TVKCRYPTO_BUNDLE_LIBRARY
naming a built library (build/libtvkcrypto.so.1 of a build with
-DBUILD_SHARED_LIBS=ON), the build copies it into the package, which
loads that copy first; the wheel is then tagged for this platform.

Only setuptools and wheel are needed, as Debian packages them: there is
no pyproject.toml on purpose, so that pip builds with the setuptools at
hand instead of fetching one into an isolated environment.
"""
import os
import shutil
import sys

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = os.path.dirname(os.path.abspath(__file__))
BUNDLED_NAMES = {"win32": "libtvkcrypto.dll", "darwin": "libtvkcrypto.1.dylib"}
BUNDLED_NAME = BUNDLED_NAMES.get(sys.platform, "libtvkcrypto.so.1")
BUNDLE = os.environ.get("TVKCRYPTO_BUNDLE_LIBRARY")


class BuildWithLibrary(build_py):
    """Copies the library named by TVKCRYPTO_BUNDLE_LIBRARY into the
    package."""

    def run(self):
        # a fresh copy: nothing an earlier build left (a library, a module
        # since removed) goes into this one
        shutil.rmtree(os.path.join(self.build_lib, "tvkcrypto"), ignore_errors=True)
        super().run()
        target = os.path.join(self.build_lib, "tvkcrypto", BUNDLED_NAME)
        if BUNDLE:
            if not os.path.isfile(BUNDLE):
                raise SystemExit("TVKCRYPTO_BUNDLE_LIBRARY: no such file: %s" % BUNDLE)
            shutil.copyfile(BUNDLE, target)  # the file itself, when BUNDLE is a link
            os.chmod(target, 0o755)


class PlatformDistribution(Distribution):
    """A distribution bound to this platform when it carries the library."""

    def has_ext_modules(self):
        return bool(BUNDLE)


def version():
    with open(os.path.join(HERE, "src", "tvkcrypto", "__init__.py"), encoding="utf-8") as source:
        for line in source:
            if line.startswith("__version__"):
                return line.split('"')[1]
    raise SystemExit("no __version__ in src/tvkcrypto/__init__.py")


setup(
    name="tvkcrypto",
    version=version(),
    description="Read and write files encrypted with a password in the tvkcrypto format, "
                "with random access and check files",
    long_description=__doc__,
    license="Apache-2.0",
    python_requires=">=3.9",
    package_dir={"": "src"},
    packages=["tvkcrypto"],
    package_data={"tvkcrypto": ["py.typed"]},
    cmdclass={"build_py": BuildWithLibrary},
    distclass=PlatformDistribution,
    zip_safe=False,
    classifiers=[
        "Programming Language :: Python :: 3",
        "License :: OSI Approved :: Apache Software License",
        "Topic :: Security :: Cryptography",
    ],
)
