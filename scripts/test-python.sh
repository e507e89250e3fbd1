#!/usr/bin/env bash
# The Python package (bindings/python) as people install it, tested as
# installed: the shared library of SHARED_BUILD_DIR (a build with
# -DBUILD_SHARED_LIBS=ON; built here when it has none) is bundled into
# the package by `pip install ./bindings/python`, into a throwaway
# virtual environment over Debian's Python, pip, setuptools and wheel
# (no package registry is asked: PIP_NO_INDEX), and pytest runs the
# package's tests against it, with that build's tvkcrypt for the
# interoperability tests. mypy first checks the package's type hints
# for the oldest Python it supports.
#
# Usage: scripts/test-python.sh [SHARED_BUILD_DIR]   (default build/python)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tvk_require_packages cmake g++ python3 python3-venv python3-pip python3-setuptools python3-wheel \
    python3-pytest python3-numpy mypy

shared=${1:-$TVK_ROOT/build/python}
if [ ! -f "$shared/CMakeCache.txt" ]; then
    shared=$TVK_ROOT/build/python
    [ -f "$shared/CMakeCache.txt" ] ||
        cmake -S "$TVK_ROOT" -B "$shared" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DTVK_WERROR=ON \
            -DTVK_BUILD_TESTS=OFF -DTVK_BUILD_BENCH=OFF -DTVK_BUILD_MANAGED=OFF >/dev/null
fi
cmake --build "$shared" -j "$TVK_JOBS" --target tvkcrypto tvkcrypt >/dev/null
shared=$(cd "$shared" && pwd)
library=$shared/libtvkcrypto.so.1
[ -f "$library" ] || { echo "$shared holds no shared library (configure it with -DBUILD_SHARED_LIBS=ON)"; exit 1; }

work=$TVK_ROOT/build/python-test
rm -rf "$work"
mkdir -p "$work"
# Debian's own Python, whatever else is first on the PATH
python=/usr/bin/python3
echo "== $($python --version) virtual environment in $work/venv"
"$python" -m venv --system-site-packages --without-pip "$work/venv"
echo "== pip install ./bindings/python, bundling $library"
env -u PIP_FIND_LINKS -u PIP_INDEX_URL -u PIP_EXTRA_INDEX_URL PIP_NO_INDEX=1 PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
    TVKCRYPTO_BUNDLE_LIBRARY="$library" \
    "$work/venv/bin/python" -m pip install --no-deps "$TVK_ROOT/bindings/python"

echo "== mypy --strict"
"$python" -m mypy --strict --python-version 3.9 --cache-dir "$work/mypy-cache" "$TVK_ROOT/bindings/python/src/tvkcrypto"

echo "== pytest"
cd "$work"   # not the source folder: the tests import the installed package
TVKCRYPT=$shared/tools/tvkcrypt "$work/venv/bin/python" -m pytest -p no:cacheprovider -rs \
    "$TVK_ROOT/bindings/python/tests"
