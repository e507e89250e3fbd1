#!/usr/bin/env bash
# Builds and runs every test twice: in the normal optimised build and
# under AddressSanitizer + UndefinedBehaviorSanitizer.
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
echo "== all tests passed in both configurations"

# A short fuzzing run of every target (clang, ASan + UBSan); the corpus
# replays already ran in ctest above.
tvk_require_packages clang libclang-rt-14-dev
echo "== fuzz: each target briefly"
"$TVK_ROOT/scripts/fuzz.sh" "${TVK_CI_FUZZ_SECONDS:-15}"
