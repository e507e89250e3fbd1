#!/usr/bin/env bash
# The key stream of the Windows builds, run under Wine, against the
# native Linux build on the same machine: the same code, so the ratio
# shows what the Windows build costs (its compiler flags, its calling
# conventions), not what the processor does. Each row runs the two
# sides interleaved (A B A B ..., 5 pairs) and prints the median and the
# range of the paired ratios with the load before and after (see
# bench_lib.sh); above 1 the Windows build is faster.
#
#   bench/windows_speed.sh            32-bit Windows (x86)
#   bench/windows_speed.sh x64        64-bit Windows
#
# Builds keystream_rate (bench/keystream_rate.cpp) in Release form twice:
# natively in build-bench/ (as run_benchmarks.sh does) and for Windows in
# build-bench-windows-ARCH/, which also holds that build's Wine prefix.
# For x86 also as a 32-bit Linux program in build-bench-i386/ where the
# i686-linux-gnu cross compiler is installed: its rows split the gap into
# what 32-bit code costs and what Windows adds.
# Needs the packages of scripts/test-windows.sh (mingw-w64, Wine).
#
# Optional: BENCH_WINDOWS_BASELINE_DIR=<another Windows build of ARCH
# with keystream_rate built> adds rows against that build, measured in
# the same run (for example one configured with
# -DCMAKE_CXX_FLAGS=-mincoming-stack-boundary=2, how every function of
# the x86 build realigned its stack before).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
ARCH=${1:-x86}
case $ARCH in
  x86) toolchain=i686-w64-mingw32 wine_arch=win32 ;;
  x64) toolchain=x86_64-w64-mingw32 wine_arch=win64 ;;
  *) echo "usage: bench/windows_speed.sh [x86|x64]" >&2; exit 2 ;;
esac
NATIVE_DIR=$ROOT/build-bench
I386_DIR=$ROOT/build-bench-i386
WINDOWS_DIR=$ROOT/build-bench-windows-$ARCH
# shellcheck source=bench_lib.sh
source "$ROOT/bench/bench_lib.sh"

# --- build ----------------------------------------------------------------
build() {  # build DIR CMAKE-ARGS...: configures once, then builds the driver
  local dir=$1
  shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTVK_BUILD_TESTS=OFF \
      -DTVK_BUILD_TOOLS=OFF -DTVK_BUILD_MANAGED=OFF -DTVK_BUILD_BENCH=ON "$@" >"$dir/configure.log" 2>&1 ||
      { echo "configuring $dir failed (see $dir/configure.log)" >&2; exit 1; }
  fi
  cmake --build "$dir" -j2 --target keystream_rate >"$dir/keystream_rate.build.log" 2>&1 ||
    { echo "building $dir failed (see $dir/keystream_rate.build.log)" >&2; exit 1; }
}
mkdir -p "$NATIVE_DIR" "$WINDOWS_DIR"
build "$NATIVE_DIR"
build "$WINDOWS_DIR" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/$toolchain.cmake"
# x86 only: the same 32-bit code as a Linux program, which tells what
# 32-bit code costs on this processor apart from Windows and Wine
if [ "$ARCH" = x86 ] && command -v i686-linux-gnu-g++ >/dev/null; then
  mkdir -p "$I386_DIR"
  build "$I386_DIR" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/i686-linux-gnu.cmake"
fi

native=$NATIVE_DIR/bench/keystream_rate
windows="'$ROOT/cmake/wine-run.sh' $wine_arch '$WINDOWS_DIR/wineprefix' '$WINDOWS_DIR/bench/keystream_rate.exe'"
# the prefix is made on the first run, outside the measurements
eval "$windows process-buffer 1024" >/dev/null 2>&1 || { echo "keystream_rate.exe does not run under Wine" >&2; exit 1; }

bench_header "tvkcrypto key stream: Windows $ARCH under Wine ($(wine --version)) / native Linux build"
echo "throughput ratios (above 1: the Windows build is faster)"
echo

# --- rows -------------------------------------------------------------------
rate_row "ProcessBuffer 16 KiB, Windows $ARCH / Linux"  ">=0.95" \
  "$windows process-buffer 16384" "'$native' process-buffer 16384"
rate_row "ProcessBuffer 16 KiB in place, Windows $ARCH / Linux" "-" \
  "$windows in-place 16384" "'$native' in-place 16384"
rate_row "ProcessBuffer 1 MiB, Windows $ARCH / Linux"   "-" \
  "$windows process-buffer 1048576" "'$native' process-buffer 1048576"
rate_row "Buffer form 1 MiB, Windows $ARCH / Linux"     ">=0.9" \
  "$windows buffer-form 1048576" "'$native' buffer-form 1048576"

if [ -x "$I386_DIR/bench/keystream_rate" ] && [ "$ARCH" = x86 ]; then
  rate_row "ProcessBuffer 16 KiB, Linux i386 / Linux x64" "-" \
    "'$I386_DIR/bench/keystream_rate' process-buffer 16384" "'$native' process-buffer 16384"
  rate_row "ProcessBuffer 16 KiB, Windows x86 / Linux i386" "-" \
    "$windows process-buffer 16384" "'$I386_DIR/bench/keystream_rate' process-buffer 16384"
fi

if [[ -n ${BENCH_WINDOWS_BASELINE_DIR:-} ]]; then
  # another Windows build of the same architecture with this revision's
  # bench sources (an older revision, or other compiler flags), against
  # Linux and against this build
  baseline="'$ROOT/cmake/wine-run.sh' $wine_arch '$WINDOWS_DIR/wineprefix' '$BENCH_WINDOWS_BASELINE_DIR/bench/keystream_rate.exe'"
  rate_row "ProcessBuffer 16 KiB, baseline Windows $ARCH / Linux" "-" \
    "$baseline process-buffer 16384" "'$native' process-buffer 16384"
  rate_row "Buffer form 1 MiB, baseline Windows $ARCH / Linux"    "-" \
    "$baseline buffer-form 1048576" "'$native' buffer-form 1048576"
  rate_row "ProcessBuffer 16 KiB, Windows $ARCH / baseline"       "-" \
    "$windows process-buffer 16384" "$baseline process-buffer 16384"
  rate_row "Buffer form 1 MiB, Windows $ARCH / baseline"          "-" \
    "$windows buffer-form 1048576" "$baseline buffer-form 1048576"
fi

bench_summary
WINEPREFIX=$WINDOWS_DIR/wineprefix wineserver -k 2>/dev/null || true
