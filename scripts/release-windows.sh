#!/usr/bin/env bash
# Builds the Windows release zips with the mingw-w64 cross toolchain, one
# per architecture:
#
#   scripts/release-windows.sh            x86 and x64
#   scripts/release-windows.sh x64        only one (x86 or x64)
#
# Each architecture gets a release build of its own in
# build/release-windows-<arch> (tests off, tool and managed binding on),
# installed into a staging folder and packed as
# build/release/tvkcrypto-<version>-windows-<arch>.zip:
#
#   tvkcrypto-<version>-windows-<arch>/
#     bin/tvkcrypt.exe
#     include/TvkCrypto/*.h                   the public headers
#     lib/libtvkcrypto.a                      static library
#     lib/cmake/TvkCrypto/*.cmake             find_package(TvkCrypto CONFIG)
#     lib/pkgconfig/tvkcrypto.pc
#     managed/TVKCryptoWrapper.dll            the assembly (platform-neutral)
#     managed/TVKCryptoWrapperNative.dll      its native half for <arch>
#     README.txt, LICENSE.txt                 CRLF line ends; README.txt is
#                                             scripts/windows-README.txt
#
# The staged tree is checked before it is packed (every file above, the
# headers self-contained, the package files free of absolute paths, the
# DLL's export and import tables); the zip's listing is compared with the
# tree, and a small CMake project is built against the unpacked zip and
# run under Wine.
#
#   scripts/release-windows.sh --stage BUILD DEST ARCH [--without-tool]
#                              [--without-assembly] [--without-managed]
# only installs the already built tree BUILD into DEST in the zip's
# layout and checks it (the test suite of a Windows build runs this);
# the options leave out what that build does not make: the tool, the
# assembly, or the whole managed binding.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

die() { echo "release-windows: $*" >&2; exit 1; }

triplet_of() {
    case $1 in
        x86) echo i686-w64-mingw32 ;;
        x64) echo x86_64-w64-mingw32 ;;
        *)   die "unknown architecture '$1' (x86 or x64)" ;;
    esac
}

cache_value() {  # cache_value BUILD NAME
    sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n1
}

# with_crlf: a text file with Windows line ends, as Notepad and every
# Windows editor expect
with_crlf() {  # with_crlf < LF-TEXT > CRLF-TEXT
    sed 's/\r$//; s/$/\r/'
}

write_readme() {  # write_readme FILE VERSION ARCH: scripts/windows-README.txt filled in
    local bits=64
    [ "$3" = x86 ] && bits=32
    sed -e "s/@VERSION@/$2/g" -e "s/@BITS@/$bits/g" -e "s/@ARCH@/$3/g" \
        "$TVK_ROOT/scripts/windows-README.txt" | with_crlf >"$1"
}

# check_tree TREE BUILD ARCH WITH_TOOL WITH_ASSEMBLY WITH_NATIVE:
# everything the zip promises is in TREE, and nothing in it refers to the
# machine it was made on.
check_tree() {
    local tree=$1 build=$2 arch=$3 with_tool=$4 with_assembly=$5 with_native=$6
    local failures=0
    local missing=()
    local f

    local expected=(
        README.txt LICENSE.txt
        include/TvkCrypto/TvkCrypto.h
        include/TvkCrypto/c.h
        lib/libtvkcrypto.a
        lib/cmake/TvkCrypto/TvkCryptoConfig.cmake
        lib/cmake/TvkCrypto/TvkCryptoConfigVersion.cmake
        lib/cmake/TvkCrypto/TvkCryptoTargets.cmake
        lib/pkgconfig/tvkcrypto.pc
    )
    [ "$with_native" = 1 ] && expected+=(managed/TVKCryptoWrapperNative.dll)
    [ "$with_tool" = 1 ] && expected+=(bin/tvkcrypt.exe)
    [ "$with_assembly" = 1 ] && expected+=(managed/TVKCryptoWrapper.dll)
    for f in "${expected[@]}"; do
        [ -f "$tree/$f" ] || missing+=("$f")
    done
    if ! compgen -G "$tree/lib/cmake/TvkCrypto/TvkCryptoTargets-*.cmake" >/dev/null; then
        missing+=("lib/cmake/TvkCrypto/TvkCryptoTargets-<config>.cmake")
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        echo "FAIL: missing from $tree:"
        printf '  %s\n' "${missing[@]}"
        failures=$((failures + 1))
    fi

    # The texts a user opens end their lines as Windows does.
    for f in README.txt LICENSE.txt; do
        if [ -f "$tree/$f" ] && grep -qv $'\r$' "$tree/$f"; then
            echo "FAIL: $f has lines without CRLF"
            failures=$((failures + 1))
        fi
    done

    # Every header the public headers include is installed with them.
    local header included
    for header in "$tree"/include/TvkCrypto/*.h; do
        [ -f "$header" ] || continue
        while IFS= read -r included; do
            if [ ! -f "$tree/include/TvkCrypto/$included" ]; then
                echo "FAIL: ${header#"$tree"/} includes \"$included\", which is not installed"
                failures=$((failures + 1))
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$header")
    done

    # The package files find everything relative to themselves: no path
    # of this machine (the sources, the build, the staging folder) and no
    # absolute path at all outside comments.
    local package_files=("$tree"/lib/cmake/TvkCrypto/*.cmake "$tree"/lib/pkgconfig/*.pc)
    local place
    for place in "$TVK_ROOT" "$(cd "$build" && pwd)" "$tree"; do
        if grep -lF "$place" "${package_files[@]}" 2>/dev/null; then
            echo "FAIL: the files above name $place"
            failures=$((failures + 1))
        fi
    done
    local absolute
    absolute=$(grep -HnE '(^|[[:space:]"=;(]|-[LI])(/[A-Za-z_.]|[A-Za-z]:[\\/])' "${package_files[@]}" |
               grep -vE '^[^:]*:[0-9]+:[[:space:]]*#' || true)
    if [ -n "$absolute" ]; then
        echo "FAIL: absolute paths in the package files:"
        echo "$absolute"
        failures=$((failures + 1))
    fi

    # The DLL as the packed, stripped file: still its exports, and
    # imports from system DLLs only.
    local objdump machine=x86-64
    objdump=$(cache_value "$build" CMAKE_OBJDUMP)
    [ "$arch" = x86 ] && machine=i386
    if [ -f "$tree/managed/TVKCryptoWrapperNative.dll" ]; then
        if ! bash "$TVK_ROOT/tests/managed/check_native_dll.sh" "$objdump" \
                "$tree/managed/TVKCryptoWrapperNative.dll" "$machine" >"$tree.dllcheck" 2>&1; then
            cat "$tree.dllcheck"
            failures=$((failures + 1))
        fi
        rm -f "$tree.dllcheck"
    fi
    # the tool, too, runs without the compiler's DLLs
    if [ -f "$tree/bin/tvkcrypt.exe" ]; then
        if ! bash "$TVK_ROOT/tests/managed/check_native_dll.sh" "$objdump" \
                "$tree/bin/tvkcrypt.exe" "$machine" program >"$tree.execheck" 2>&1; then
            cat "$tree.execheck"
            failures=$((failures + 1))
        fi
        rm -f "$tree.execheck"
    fi

    echo "files in $(basename "$tree"):"
    (cd "$tree" && find . -type f | sed 's|^\./|  |' | sort)
    if [ "$failures" -gt 0 ]; then
        die "$failures check(s) of $tree failed"
    fi
    echo "ok: $tree"
}

# stage BUILD DEST ARCH WITH_TOOL WITH_ASSEMBLY WITH_NATIVE: installs a
# built tree into DEST in the zip's layout and checks it.
stage() {
    local build=$1 dest=$2 arch=$3 with_tool=$4 with_assembly=$5 with_native=$6
    [ -f "$build/CMakeCache.txt" ] || die "$build is not a configured build folder"
    local version
    version=$(cache_value "$build" CMAKE_PROJECT_VERSION)
    rm -rf "$dest"
    cmake --install "$build" --prefix "$dest" --strip >/dev/null
    # the manual page, the shell completions and the doc folder serve
    # POSIX systems, and Mono's debug symbols serve Mono; the licence goes
    # to the top as usual on Windows
    with_crlf <"$TVK_ROOT/LICENSE" >"$dest/LICENSE.txt"
    rm -rf "$dest/share"
    rm -f "$dest"/managed/*.mdb
    write_readme "$dest/README.txt" "$version" "$arch"
    check_tree "$dest" "$build" "$arch" "$with_tool" "$with_assembly" "$with_native"
}

if [ "${1:-}" = --stage ]; then
    [ $# -ge 4 ] ||
        die "usage: $0 --stage BUILD DEST ARCH [--without-tool] [--without-assembly] [--without-managed]"
    build=$2 dest=$3 arch=$4
    shift 4
    triplet_of "$arch" >/dev/null
    with_tool=1 with_assembly=1 with_native=1
    for option in "$@"; do
        case $option in
            --without-tool)     with_tool=0 ;;
            --without-assembly) with_assembly=0 ;;
            --without-managed)  with_assembly=0 with_native=0 ;;
            *) die "unknown option $option" ;;
        esac
    done
    stage "$build" "$dest" "$arch" "$with_tool" "$with_assembly" "$with_native"
    exit 0
fi

# wine32:i386 (to run the 32-bit check) needs the i386 architecture
# before the package lists are read.
if [ "$(id -u)" -eq 0 ] && [ "$(dpkg --print-architecture)" = amd64 ] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
fi
tvk_require_packages cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
    mono-mcs wine wine64 wine32:i386

arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(x86 x64)
out="$TVK_ROOT/build/release"
mkdir -p "$out"
export WINEDEBUG=-all

for arch in "${arches[@]}"; do
    triplet=$(triplet_of "$arch")
    build="$TVK_ROOT/build/release-windows-$arch"
    echo "== windows-$arch: configure and build ($build)"
    cmake -S "$TVK_ROOT" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$TVK_ROOT/cmake/toolchains/$triplet.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTVK_WERROR=ON \
        -DTVK_BUILD_TESTS=OFF -DTVK_BUILD_BENCH=OFF \
        -DTVK_BUILD_TOOLS=ON -DTVK_BUILD_MANAGED=ON \
        -DTVK_MANAGED_INSTALL_DIR=managed >/dev/null
    cmake --build "$build" -j "$TVK_JOBS"

    version=$(cache_value "$build" CMAKE_PROJECT_VERSION)
    name="tvkcrypto-$version-windows-$arch"
    staging="$build/staging"
    echo "== windows-$arch: stage and check $name"
    rm -rf "$staging"
    mkdir -p "$staging"
    stage "$build" "$staging/$name" "$arch" 1 1 1

    zip="$out/$name.zip"
    echo "== windows-$arch: pack $zip"
    rm -f "$zip"
    (cd "$staging" && cmake -E tar cf "$zip" --format=zip "$name")
    # the zip holds exactly the checked tree
    diff <(cd "$staging" && find "$name" -type f | sort) \
         <(cmake -E tar tf "$zip" | grep -v '/$' | sort) ||
        die "the listing of $zip differs from the staged tree"

    echo "== windows-$arch: build and run a CMake project against the unpacked zip"
    unpacked="$build/unpacked"
    rm -rf "$unpacked"
    mkdir -p "$unpacked"
    (cd "$unpacked" && cmake -E tar xf "$zip")
    # TvkCrypto_DIR rather than CMAKE_PREFIX_PATH: the toolchain file
    # confines package searches to the mingw-w64 root
    cmake -S "$TVK_ROOT/tests/install/consumer" -B "$unpacked/consumer" \
        -DCMAKE_TOOLCHAIN_FILE="$TVK_ROOT/cmake/toolchains/$triplet.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DTvkCrypto_DIR="$unpacked/$name/lib/cmake/TvkCrypto" >/dev/null
    cmake --build "$unpacked/consumer" >/dev/null
    wine_arch=win64
    [ "$arch" = x86 ] && wine_arch=win32
    output=$("$TVK_ROOT/cmake/wine-run.sh" "$wine_arch" "$build/wineprefix" \
             "$unpacked/consumer/consumer.exe" | tr -d '\r')
    echo "$output" | sed 's/^/  /'
    grep -q 69c4e0d86a7b0430d8cdb78070b4c55a <<<"$output" && grep -q "round trip ok" <<<"$output" ||
        die "the consumer built against $zip gave unexpected output"
    if [ -f "$unpacked/$name/bin/tvkcrypt.exe" ]; then
        tool_version=$("$TVK_ROOT/cmake/wine-run.sh" "$wine_arch" "$build/wineprefix" \
                       "$unpacked/$name/bin/tvkcrypt.exe" --version | tr -d '\r')
        echo "  $tool_version"
        grep -qF "$version" <<<"$tool_version" ||
            die "tvkcrypt.exe --version from $zip does not name version $version"
    fi
    WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true

    echo "== windows-$arch: $zip ($(stat -c %s "$zip") bytes)"
done
echo "== release zips in $out"
