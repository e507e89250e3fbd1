#!/usr/bin/env bash
# Cross-builds the library and its GoogleTest suite for 32-bit and 64-bit
# Windows with mingw-w64 and runs the suite under Wine (a 32-bit prefix
# for the 32-bit build). Each configuration gets its own Wine prefix in
# its build folder, created on the first run.
#
#   scripts/test-windows.sh            both configurations
#   scripts/test-windows.sh x86        only windows-x86 (or: x64)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# wine32:i386 needs the i386 architecture before the package lists are
# read.
if [ "$(id -u)" -eq 0 ] && [ "$(dpkg --print-architecture)" = amd64 ] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
fi
tvk_require_packages cmake make libgtest-dev g++-mingw-w64-i686-posix \
    g++-mingw-w64-x86-64-posix wine wine64 wine32:i386
tvk_require_volume_tools

cd "$TVK_ROOT"
export WINEDEBUG=-all
arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(x86 x64)
for arch in "${arches[@]}"; do
    preset=windows-$arch
    echo "== $preset: build"
    tvk_build "$preset"
    echo "== $preset: test (Wine)"
    ctest --preset "$preset"
    # The wine server of this prefix would linger for half a minute.
    WINEPREFIX="$TVK_ROOT/build/$preset/wineprefix" wineserver -k 2>/dev/null || true
done
echo "== all Windows tests passed"
