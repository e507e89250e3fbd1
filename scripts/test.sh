#!/usr/bin/env bash
# Builds and runs every test twice: in the normal optimised build and
# under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tvk_require_packages cmake g++ make libgtest-dev libgmock-dev \
    mono-devel nunit-console libnunit-cil-dev

# valgrind: the constant-time check of the portable AES (found at configure time)
tvk_require_packages valgrind

cd "$TVK_ROOT"
for preset in default sanitize; do
    echo "== $preset: build"
    tvk_build "$preset"
    echo "== $preset: test"
    ctest --preset "$preset"
done

# AES on 64-bit ARM: only the AES tests, cross-built with Debian's aarch64
# compiler and run under qemu-aarch64, whose default CPU has the ARMv8 AES
# instructions, so the hardware ARM path is tested as well.
tvk_require_packages g++-aarch64-linux-gnu qemu-user
echo "== aarch64 (qemu): build the AES tests"
tvk_build aarch64 tests_rtcrypto tests_password_format_aes
echo "== aarch64 (qemu): test"
ctest --preset aarch64

# AES in a 32-bit x86 build (-m32): the AES-NI code with eight vector
# registers and the 32-bit calling convention.
tvk_require_packages g++-multilib
echo "== i386: build the AES tests"
tvk_build i386 tests_rtcrypto tests_password_format_aes
echo "== i386: test"
ctest --preset i386

echo "== all tests passed in both configurations, on aarch64 and on i386"
