#!/usr/bin/env bash
# Builds and runs every test in the normal optimised build and under
# AddressSanitizer + UndefinedBehaviorSanitizer, then under
# ThreadSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tvk_require_packages cmake g++ make libgtest-dev libgmock-dev \
    mono-devel nunit-console libnunit-cil-dev

cd "$TVK_ROOT"
for preset in default sanitize; do
    echo "== $preset: build"
    tvk_build "$preset"
    echo "== $preset: test"
    ctest --preset "$preset"
done

# ThreadSanitizer: the library, the tool (with its two workers) and their
# tests, without benchmarks and the managed binding; tests labelled
# no-tsan are left out (see their CMakeLists for why).
echo "== tsan: build"
tvk_build tsan
echo "== tsan: test"
ctest --preset tsan

echo "== all tests passed in every configuration"
