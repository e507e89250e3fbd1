#!/usr/bin/env bash
# TvkStream on Mono against the C interface's reader in C++, measured in
# one run on the same machine (see bench_lib.sh: pairs run interleaved,
# A B A B ..., median and range of the paired ratios, the load before
# and after):
#
#   bench/managed_speed.sh [build-dir]
#
# - sequential: a 256 MiB encrypted file read in order in 1 MiB reads
#   (TvkStream.Read over the path against tvk_reader_read), target >= 0.8;
# - random: Seek + 4 KiB Read at 20,000 random offsets, target >= 0.3;
# - Helper: with BENCH_BASELINE_MANAGED_DIR=<managed/ folder of an older
#   build>, Helper encrypting 64 MiB in memory against that build's
#   assembly and native library, target >= 0.95 (no slower).
#
# Without a build directory, build-bench-managed/ under the repository
# root is configured as a Release build with the managed binding. The
# file lives in /dev/shm where there is one, so that the disk is not
# measured. BENCH_FILE_MIB (default 256) sizes it.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BENCH_BUILD_DIR=${1:-$ROOT/build-bench-managed}
FILE_MIB=${BENCH_FILE_MIB:-256}
# shellcheck source=bench_lib.sh
source "$ROOT/bench/bench_lib.sh"
# shellcheck source=../scripts/common.sh
source "$ROOT/scripts/common.sh"
tvk_require_packages cmake make g++ mono-mcs mono-runtime

cmake -S "$ROOT" -B "$BENCH_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTVK_BUILD_TESTS=OFF \
    -DTVK_BUILD_TOOLS=OFF -DTVK_BUILD_MANAGED=ON -DTVK_BUILD_BENCH=ON >/dev/null
cmake --build "$BENCH_BUILD_DIR" -j2 --target tvk_managed capi_read_rate >/dev/null
managed=$BENCH_BUILD_DIR/managed
mcs -nologo -optimize+ -out:"$managed/TvkStreamRate.exe" -r:"$managed/TVKCryptoWrapper.dll" \
    "$ROOT/bench/TvkStreamRate.cs"
reader=$BENCH_BUILD_DIR/bench/capi_read_rate

work=$(mktemp -d /dev/shm/tvk-bench-managed.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((FILE_MIB << 20)) /dev/urandom >"$work/clear"
"$reader" encrypt "$work/clear" "$work/data.tvk" bench-password
rm -f "$work/clear"

bench_header "TvkStream (Mono $(mono --version | sed -n 's/.*version \([0-9.]*\).*/\1/p;q')) vs the C reader"
echo "rate ratios (above 1: TvkStream is faster)"
echo

rate_row "sequential read, $FILE_MIB MiB in 1 MiB reads" ">=0.8" \
    "mono '$managed/TvkStreamRate.exe' seq '$work/data.tvk' bench-password" \
    "'$reader' seq '$work/data.tvk' bench-password"
rate_row "random Seek + 4 KiB Read, 20000 reads" ">=0.3" \
    "mono '$managed/TvkStreamRate.exe' random '$work/data.tvk' bench-password 20000" \
    "'$reader' random '$work/data.tvk' bench-password 20000"
if [ -n "${BENCH_BASELINE_MANAGED_DIR:-}" ]; then
    cp "$managed/TvkStreamRate.exe" "$BENCH_BASELINE_MANAGED_DIR/"
    rate_row "Helper, 64 MiB in memory: this build / baseline" ">=0.95" \
        "mono '$managed/TvkStreamRate.exe' helper 67108864" \
        "mono '$BENCH_BASELINE_MANAGED_DIR/TvkStreamRate.exe' helper 67108864"
fi
bench_summary
