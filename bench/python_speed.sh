#!/usr/bin/env bash
# The Python package (bindings/python) against the C++ side on the same
# data in the same run: every row runs its two sides interleaved
# (A B A B ...), each in a process of its own, and prints the median and
# the range of the paired ratios with the load average before/after, or
# "load too high" instead of a figure (see bench_lib.sh for the rules and
# the environment knobs). Above 1: Python is faster.
#
#   bench/python_speed.sh [build-dir]
#
# The build directory (default build-bench-python/ under the repository
# root) is configured as a Release build of the shared library; the
# package is used from the source tree over that library
# (TVKCRYPTO_LIBRARY), and the C++ sides are keystream_rate (the key
# stream's ProcessBuffer, from one buffer into another) and capi_rate (the
# C interface's in-place transform and reader), linked to the same
# library. The 256 MiB file is random bytes (any bytes are an
# encrypted file) in /dev/shm where there is one, with a check file for
# the verified rows. PYTHON picks the interpreter (default python3).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BENCH_BUILD_DIR=${1:-$ROOT/build-bench-python}
PYTHON=${PYTHON:-python3}
# shellcheck source=bench_lib.sh
source "$ROOT/bench/bench_lib.sh"

if [ ! -f "$BENCH_BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BENCH_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DTVK_BUILD_TESTS=OFF -DTVK_BUILD_TOOLS=OFF -DTVK_BUILD_MANAGED=OFF >/dev/null
fi
cmake --build "$BENCH_BUILD_DIR" -j2 --target tvkcrypto keystream_rate capi_rate >"$BENCH_BUILD_DIR/python_speed.build.log" 2>&1 ||
  { tail -n 30 "$BENCH_BUILD_DIR/python_speed.build.log"; exit 1; }

export TVKCRYPTO_LIBRARY=$BENCH_BUILD_DIR/libtvkcrypto.so.1
export PYTHONPATH=$ROOT/bindings/python/src
work=$(mktemp -d /dev/shm/tvk-bench-python.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/data.tvk
head -c $((256 << 20)) /dev/urandom >"$file"
"$PYTHON" -c 'import sys, tvkcrypto; tvkcrypto.create_check_file(sys.argv[1], "bench")' "$file"

py="'$PYTHON' '$ROOT/bench/python_speed.py'"
ks="'$BENCH_BUILD_DIR/bench/keystream_rate'"
c="'$BENCH_BUILD_DIR/bench/capi_rate'"
f="'$file' bench"

bench_header "tvkcrypto Python package ($("$PYTHON" --version 2>&1)) vs the C++ library"
echo "throughput ratios (above 1: Python is faster)"
echo
rate_row "transform_into 64 MiB / C++ ProcessBuffer 64 MiB"    ">=0.95" "$py transform 67108864"       "$ks process-buffer 67108864"
rate_row "  transform_into 64 MiB / C tvk_transform 64 MiB"        "-"      "$py transform 67108864"       "$c transform 67108864"
rate_row "open() read(1 MiB), 256 MiB in order / C reader"    ">=0.8"  "$py read $f 1048576"          "$c read $f 1048576"
rate_row "  readinto(1 MiB) into one buffer / C reader"       "-"      "$py readinto $f 1048576"      "$c read $f 1048576"
rate_row "seek + read(4 KiB) at random offsets / C reader"    ">=0.3"  "$py seek $f 4096"             "$c seek $f 4096"
rate_row "transform_into 64 MiB, two threads / one thread"    ">=1.6"  "$py transform 67108864 2"     "$py transform 67108864 1"
rate_row "  verified: read(1 MiB) in order / C reader"        "-"      "$py read $f 1048576 verify"   "$c read $f 1048576 verify"
rate_row "  verified: seek + read(4 KiB) / C reader"          "-"      "$py seek $f 4096 verify"      "$c seek $f 4096 verify"
bench_summary
