#!/usr/bin/env bash
# This revision against an older one, each built from its own sources
# (a Release build of bench_check and tvkcrypt in each): HMAC-SHA-256,
# check-file verification and the tool's verified decryption of a
# 256 MiB file in /dev/shm, interleaved as every row of bench_lib.sh.
#
#   bench/compare_revision.sh OLDER_BUILD_DIR [BUILD_DIR]
#
# BUILD_DIR defaults to build-bench/ (run_benchmarks.sh makes it; the
# tool must be built in it too: cmake --build build-bench --target tvkcrypt).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OLDER=${1:?usage: compare_revision.sh OLDER_BUILD_DIR [BUILD_DIR]}
BENCH_BUILD_DIR=${2:-$ROOT/build-bench}
# shellcheck source=bench_lib.sh
source "$ROOT/bench/bench_lib.sh"
work=$(mktemp -d /dev/shm/tvk-compare.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((256 << 20)) /dev/urandom >"$work/clear"
export TVK_PASSWORD=bench-password
"$BENCH_BUILD_DIR/tools/tvkcrypt" encrypt --quiet "$work/clear" -o "$work/enc"

bench_header "this revision vs $OLDER"
C=bench_check
O=$OLDER/bench/bench_check
bench_row "HMAC-SHA-256 1 MiB, this build / older"             "-" $C BM_HmacSha256 $O BM_HmacSha256
bench_row "HMAC-SHA-256 pair 2x512 KiB, this build / older"    "-" $C BM_HmacSha256Pair $O BM_HmacSha256Pair
bench_row "Check-file verify 1 MiB, this build / older"        "-" $C BM_CheckFileVerifyBlocks $O BM_CheckFileVerifyBlocks
time_row "tvkcrypt decrypt -o file, 256 MiB with check file, this / older" "-" \
  "'$BENCH_BUILD_DIR/tools/tvkcrypt' decrypt --quiet -f '$work/enc' -o '$work/out'" \
  "'$OLDER/tools/tvkcrypt' decrypt --quiet -f '$work/enc' -o '$work/out'"
bench_summary
