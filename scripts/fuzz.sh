#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer, the whole library compiled for coverage)
# in build/fuzz and runs each target for SECONDS seconds (default 60).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# TARGET is text, containers, cipher or options; all when none given.
# New inputs go to build/fuzz/corpus/TARGET; the seeds in
# tests/fuzz/corpus/TARGET are read, never written. A finding stops the
# run with status 1 and leaves the crashing input in build/fuzz/
# (crash-*, leak-*, timeout-*); after the fix, copy it into the seed
# corpus so that the corpus replay in ctest keeps checking it. With
# TVK_FUZZ_MERGE=1 the inputs that add coverage are merged into the
# seed corpus at the end (keep it small).
# TVK_FUZZ_JOBS (default 1) targets run at once.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(text containers cipher options)

tvk_require_packages cmake make clang libclang-rt-14-dev libgtest-dev libgmock-dev

cd "$TVK_ROOT"
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DTVK_FUZZ=ON -DTVK_BUILD_TOOLS=OFF -DTVK_BUILD_MANAGED=OFF -DTVK_BUILD_BENCH=OFF \
    >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
cmake --build "$build" -j "$TVK_JOBS" "${build_targets[@]}"

run_one() {
    local t=$1
    local work="$build/corpus/$t"
    mkdir -p "$work"
    echo "== fuzz_$t: $seconds s from $(date -u +%H:%M:%S)"
    local started=$SECONDS
    # libFuzzer writes crash files to the current directory
    local status=0
    (cd "$build" && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "./tests/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
        -timeout=10 -rss_limit_mb=2048 "corpus/$t" "$TVK_ROOT/tests/fuzz/corpus/$t" \
        >"fuzz_$t.log" 2>&1) || status=$?
    echo "== fuzz_$t: ran $((SECONDS - started)) s"
    grep -E "^#[0-9]+.*DONE|stat::" "$build/fuzz_$t.log" || true
    if [ $status -ne 0 ]; then
        echo "!! fuzz_$t failed; see $build/fuzz_$t.log" >&2
        tail -40 "$build/fuzz_$t.log" >&2
        return 1
    fi
    if [ "${TVK_FUZZ_MERGE:-0}" = 1 ]; then
        "./$build/tests/fuzz/fuzz_$t" -merge=1 "tests/fuzz/corpus/$t" "$work" >/dev/null 2>&1
    fi
}

jobs=${TVK_FUZZ_JOBS:-1}
failed=0
pids=()
for t in "${targets[@]}"; do
    run_one "$t" & pids+=($!)
    if [ ${#pids[@]} -ge "$jobs" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
[ $failed -eq 0 ] && echo "== no finding in ${targets[*]}"
exit $failed
