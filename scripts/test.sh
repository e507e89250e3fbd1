#!/usr/bin/env bash
# Builds and runs every test in each configuration: the normal optimised
# build, and AddressSanitizer + UndefinedBehaviorSanitizer, and the
# Python package's tests against a shared build. Per
# configuration it prints a short summary (tests run, passed, failed,
# skipped with the reasons) and keeps the full logs under build/; when a
# test fails, the end of its output is printed. The last line is the
# total, "total: N passed, N failed, N skipped"; the exit status is 0
# only when every configuration built and passed.
#
#   scripts/test.sh            everything: the native part, then Windows
#   scripts/test.sh native     only the Linux configurations
#   scripts/test.sh windows    only the Windows builds under Wine
#
# A further configuration is one more line at the bottom:
#   tvk_run_preset PRESET [CTEST_ARGS...]   build a CMake preset, run ctest
#   tvk_run_step NAME COMMAND...            any other check (one result)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tvk_require_packages cmake g++ make pkg-config libgtest-dev libgmock-dev libssl-dev \
    mono-devel nunit-console libnunit-cil-dev nuget dpkg-dev groff-base zsh || exit 1

# valgrind: the constant-time check of the portable AES (found at configure time)
tvk_require_packages valgrind

TVK_PART=${1:-all}
case $TVK_PART in
    all|native|windows) ;;
    *) echo "usage: scripts/test.sh [all|native|windows]" >&2; exit 2 ;;
esac

cd "$TVK_ROOT"
TVK_TOTAL_PASSED=0
TVK_TOTAL_FAILED=0
TVK_TOTAL_SKIPPED=0

# tvk_tail_of_failed LASTTEST_LOG NAME...: the last lines of each named
# test's output, from CTest's full log.
tvk_tail_of_failed() {
    local log=$1; shift
    local name
    for name in "$@"; do
        echo "---- $name (last 30 lines of its output)"
        awk -v name="$name" '
            $0 ~ /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); current = $0 }
            /^Output:$/ && current == name { capture = 1; next }
            /^<end of output>$/ { capture = 0 }
            capture && !/^-+$/ { print }
        ' "$log" | tail -n 30
    done
}

# tvk_run_preset PRESET [CTEST_ARGS...]: configures and builds PRESET,
# runs its tests and prints the summary.
tvk_run_preset() {
    local preset=$1; shift
    local dir=build/$preset
    local build_log=build/$preset-build.log
    local start=$SECONDS
    mkdir -p build
    echo "== $preset: build (log: $build_log)"
    # shellcheck disable=SC2086  # TVK_BUILD_TARGETS is a list of words
    if ! tvk_build "$preset" ${TVK_BUILD_TARGETS:-} >"$build_log" 2>&1; then
        tail -n 40 "$build_log"
        echo "$preset: build FAILED"
        TVK_TOTAL_FAILED=$((TVK_TOTAL_FAILED + 1))
        return 0
    fi

    local ctest_log=$dir/ctest.log
    echo "== $preset: test (log: $ctest_log)"
    ctest --preset "$preset" "$@" >"$ctest_log" 2>&1
    local status=$?

    # one result line per test: "N/M Test #K: name ....   Passed   0.01 sec"
    local results passed failed skipped
    results=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$ctest_log")
    passed=$(grep -cE ' Passed +[0-9.]+ sec$' <<<"$results")
    skipped=$(grep -cE '\*\*\*(Skipped|Not Run)' <<<"$results")
    failed=$(($(grep -c . <<<"$results") - passed - skipped))
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1   # ctest itself failed (no tests found, bad arguments, ...)
        tail -n 20 "$ctest_log"
    fi

    local full_log=$dir/Testing/Temporary/LastTest.log
    if [ "$skipped" -gt 0 ] || grep -q '^SKIP: ' "$full_log" 2>/dev/null; then
        echo "   skipped, with reasons (count, reason):"
        { grep -A1 -E ': Skipped$' "$full_log" | grep -vE ': Skipped$|^--$' | sed 's/^$/(no reason given)/'
          grep -E '^SKIP: ' "$full_log" | sed 's/^SKIP: /partly: /'
        } | sort | uniq -c | sed 's/^/   /'
    fi
    if [ "$failed" -gt 0 ]; then
        local names
        # ctest lists them as "  12 - name (Failed)" after "The following tests FAILED:"
        mapfile -t names < <(awk '
            /^The following tests FAILED:/ { listing = 1; next }
            listing && /^[[:space:]]+[0-9]+ - / {
                sub(/^[[:space:]]+[0-9]+ - /, ""); sub(/ \([^()]*\)$/, ""); print; next }
            { listing = 0 }' "$ctest_log")
        [ ${#names[@]} -gt 0 ] && tvk_tail_of_failed "$full_log" "${names[@]}"
        echo "   failed tests: ${names[*]:-see $ctest_log}"
    fi
    # The Windows builds run each test program as one CTest test: count
    # its GoogleTest cases too.
    if [ "${TVK_COUNT_CASES:-0}" = 1 ]; then
        awk '/^\[  PASSED  \] [0-9]+ test/ { p += $4 } /^\[  SKIPPED \] [0-9]+ test/ { s += $4 }
             /^\[  FAILED  \] [0-9]+ test/ { f += $4 }
             END { printf "   GoogleTest cases: %d passed, %d failed, %d skipped\n", p, f, s }' "$full_log"
    fi
    echo "   full output of every test: $full_log ($((SECONDS - start)) s)"
    echo "$preset: $passed passed, $failed failed, $skipped skipped"
    TVK_TOTAL_PASSED=$((TVK_TOTAL_PASSED + passed))
    TVK_TOTAL_FAILED=$((TVK_TOTAL_FAILED + failed))
    TVK_TOTAL_SKIPPED=$((TVK_TOTAL_SKIPPED + skipped))
}

# tvk_run_step NAME COMMAND...: runs a check that is not a CTest run,
# counted as one test; its output goes to build/NAME.log.
tvk_run_step() {
    local name=$1; shift
    local log=build/$name.log
    local start=$SECONDS
    mkdir -p build
    echo "== $name (log: $log)"
    if "$@" >"$log" 2>&1; then
        echo "$name: 1 passed, 0 failed ($((SECONDS - start)) s)"
        TVK_TOTAL_PASSED=$((TVK_TOTAL_PASSED + 1))
    else
        tail -n 30 "$log"
        echo "$name: 0 passed, 1 failed ($((SECONDS - start)) s)"
        TVK_TOTAL_FAILED=$((TVK_TOTAL_FAILED + 1))
    fi
}

tvk_native_part() {
tvk_run_preset default

# The Python package, installed with pip into a throwaway virtual
# environment with the shared library that the install test just built
# bundled in, and its pytest suite run against it.
tvk_run_step python "$TVK_ROOT/scripts/test-python.sh" \
    "$TVK_ROOT/build/default/tests/install_shared_package/build"

tvk_run_preset sanitize

# ThreadSanitizer: the library, the tool (with its two workers) and their
# tests, without benchmarks and the managed binding; tests labelled
# no-tsan are left out (see their CMakeLists for why).
tvk_run_preset tsan

# A short fuzzing run of every target (clang, ASan + UBSan); the corpus
# replays already ran in ctest above.
tvk_require_packages clang libclang-rt-14-dev || exit 1
tvk_run_step fuzz "$TVK_ROOT/scripts/fuzz.sh" "${TVK_CI_FUZZ_SECONDS:-15}"

# AES on 64-bit ARM: only the AES tests, cross-built with Debian's aarch64
# compiler and run under qemu-aarch64, whose default CPU has the ARMv8 AES
# instructions, so the hardware ARM path is tested as well.
tvk_require_packages g++-aarch64-linux-gnu qemu-user || exit 1
TVK_BUILD_TARGETS="tests_rtcrypto tests_password_format_aes" tvk_run_preset aarch64

# AES in a 32-bit x86 build: the AES-NI code with eight vector registers
# and the 32-bit calling convention, cross-built and run natively (the
# i386 C library needs the i386 architecture in dpkg).
if [ "$(id -u)" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 && apt-get update -qq
fi
tvk_require_packages g++-i686-linux-gnu libc6:i386 || exit 1
TVK_BUILD_TARGETS="tests_rtcrypto tests_password_format_aes" tvk_run_preset i386
}

# Windows: the library, the tool and the managed binding's native DLL
# cross-built with mingw-w64 for 32- and 64-bit Windows, and the whole
# suite run under Wine (a 32-bit prefix for the 32-bit build).
tvk_windows_part() {
    if [ "$(id -u)" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 && apt-get update -qq
    fi
    tvk_require_packages g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
        binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64 wine32:i386 || exit 1
    tvk_require_volume_tools
    local arch
    for arch in x86 x64; do
        TVK_COUNT_CASES=1 WINEDEBUG=-all tvk_run_preset windows-$arch
        # The prefix's wine server would linger for half a minute.
        WINEPREFIX="$TVK_ROOT/build/windows-$arch/wineprefix" wineserver -k 2>/dev/null || true
    done
}

[ "$TVK_PART" = windows ] || tvk_native_part
[ "$TVK_PART" = native ] || tvk_windows_part

echo "total: $TVK_TOTAL_PASSED passed, $TVK_TOTAL_FAILED failed, $TVK_TOTAL_SKIPPED skipped"
[ "$TVK_TOTAL_FAILED" -eq 0 ]
