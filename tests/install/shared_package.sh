#!/usr/bin/env bash
# The project as people install it, from a build of its own: the library
# as a shared library (-DBUILD_SHARED_LIBS=ON) with the tool, nothing
# else. Checks
#  - libtvkcrypto.so carries the project's version and SONAME, and
#    exports exactly the public API (check_exports.sh);
#  - `cmake --install` into a scratch prefix gives a tool that runs, and
#    outside programs (C++, and README's C example of <TvkCrypto/c.h>)
#    build and run against the shared library both with
#    find_package(TvkCrypto) and with pkg-config;
#  - `cpack -G DEB` makes a package holding the tool, library, headers,
#    man page and completions, and the tool unpacked from it with
#    `dpkg -x` into a scratch root runs; lintian, when installed, finds
#    neither errors nor warnings in it.
#
# Usage: shared_package.sh SOURCE_DIR WORK_DIR [CXX]
set -euo pipefail
source_dir=$1
work=$2
cxx=${3:-c++}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
version=$(sed -nE 's/^project\(TvkCrypto VERSION ([0-9.]+).*/\1/p' "$source_dir/CMakeLists.txt")
major=${version%%.*}

step() { echo "== $*"; }
fail() { echo "FAIL: $*"; exit 1; }
# run LOG COMMAND...: quiet unless it fails
run() {
    local log=$1; shift
    "$@" >"$log" 2>&1 || { tail -n 40 "$log"; fail "$* (log: $log)"; }
}
expect_consumer_output() {  # expect_consumer_output HOW OUTPUT
    grep -q 69c4e0d86a7b0430d8cdb78070b4c55a <<<"$2" && grep -q "round trip ok" <<<"$2" ||
        fail "unexpected output of the consumer built with $1: $2"
}
expect_c_consumer_output() {  # expect_c_consumer_output HOW PROGRAM
    local out
    out=$("$2" "$source_dir/tests/data/readme-example.tvk" "example password" 4) || fail "the C consumer built with $1 failed: $out"
    grep -q "^README's C example reads these 64 bytes from the middle of files" <<<"$out" ||
        fail "unexpected output of the C consumer built with $1: $out"
}
expect_needs_shared() {  # expect_needs_shared PROGRAM
    readelf -d "$1" | grep -q "NEEDED.*\[libtvkcrypto.so.$major\]" ||
        fail "$1 is not linked to libtvkcrypto.so.$major"
}

rm -rf "$work"
mkdir -p "$work"
build=$work/build
prefix=$work/prefix

step "configure and build (shared library and tool only)"
run "$work/configure.log" cmake -S "$source_dir" -B "$build" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_SHARED_LIBS=ON -DTVK_WERROR=ON -DTVK_BUILD_TESTS=OFF \
    -DTVK_BUILD_BENCH=OFF -DTVK_BUILD_MANAGED=OFF
run "$work/build.log" cmake --build "$build" -j 2 --target tvkcrypto tvkcrypt

step "version and SONAME"
library=$build/libtvkcrypto.so.$version
[ -f "$library" ] || fail "$library was not built"
soname=$(readelf -d "$library" | sed -nE 's/.*SONAME.*\[(.*)\]/\1/p')
[ "$soname" = "libtvkcrypto.so.$major" ] || fail "SONAME is '$soname', expected libtvkcrypto.so.$major"
[ "$(readlink "$build/libtvkcrypto.so")" = "libtvkcrypto.so.$major" ] ||
    fail "libtvkcrypto.so does not link to libtvkcrypto.so.$major"

step "install into $prefix"
run "$work/install.log" cmake --install "$build" --prefix "$prefix"
installed_library=$(find "$prefix" -name "libtvkcrypto.so.$version" | head -n 1)
[ -n "$installed_library" ] || fail "libtvkcrypto.so.$version was not installed"
bash "$here/check_exports.sh" "$installed_library" "$prefix/include/TvkCrypto"
expect_needs_shared "$prefix/bin/tvkcrypt"
out=$("$prefix/bin/tvkcrypt" --version) || fail "the installed tool does not run: $out"
[ "$out" = "tvkcrypt $version" ] || fail "installed tvkcrypt --version says '$out'"

step "outside programs through find_package"
cmake -DREADME="$source_dir/README.md" -DOUTPUT="$work/example.c" -P "$source_dir/cmake/TvkReadmeExample.cmake" ||
    fail "cannot take the C example out of README.md"
run "$work/consumer-configure.log" cmake -S "$here/consumer" -B "$work/consumer" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
    -DTVK_C_EXAMPLE="$work/example.c"
run "$work/consumer-build.log" cmake --build "$work/consumer"
expect_needs_shared "$work/consumer/consumer"
expect_consumer_output find_package "$("$work/consumer/consumer")"
expect_needs_shared "$work/consumer/c_consumer"
expect_c_consumer_output find_package "$work/consumer/c_consumer"

step "outside program through pkg-config"
pc_dir=$(dirname "$(find "$prefix" -name tvkcrypto.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs tvkcrypto) || fail "pkg-config cannot find tvkcrypto"
grep -q -- -DTVK_SHARED <<<"$flags" || fail "pkg-config flags of the shared build lack -DTVK_SHARED: $flags"
libdir=$(dirname "$installed_library")
# shellcheck disable=SC2086  # the flags are words
run "$work/pkgconfig-build.log" "$cxx" -std=c++17 "$here/consumer/main.cpp" $flags \
    -Wl,-rpath,"$libdir" -o "$work/consumer_pkgconfig"
expect_needs_shared "$work/consumer_pkgconfig"
expect_consumer_output pkg-config "$("$work/consumer_pkgconfig")"
# shellcheck disable=SC2086
run "$work/pkgconfig-c-build.log" cc -std=c99 "$work/example.c" $flags -Wl,-rpath,"$libdir" -o "$work/c_consumer_pkgconfig"
expect_needs_shared "$work/c_consumer_pkgconfig"
expect_c_consumer_output pkg-config "$work/c_consumer_pkgconfig"

step "Debian package"
run "$work/cpack.log" cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package"
deb=$(find "$work/package" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb (log: $work/cpack.log)"
info=$(dpkg-deb --info "$deb")
grep -q "Package: tvkcrypt" <<<"$info" || fail "the package is not named tvkcrypt: $info"
grep -q "Version: $version" <<<"$info" || fail "the package version is not $version: $info"
contents=$(dpkg-deb --contents "$deb")
for path in /usr/bin/tvkcrypt "libtvkcrypto.so.$version" /usr/include/TvkCrypto/TvkCrypto.h \
            /usr/include/TvkCrypto/c.h \
            /usr/share/man/man1/tvkcrypt.1.gz /usr/share/bash-completion/completions/tvkcrypt \
            /usr/share/zsh/vendor-completions/_tvkcrypt pkgconfig/tvkcrypto.pc \
            cmake/TvkCrypto/TvkCryptoConfig.cmake \
            /usr/share/doc/tvkcrypt/copyright /usr/share/doc/tvkcrypt/changelog.gz; do
    grep -qF -- "$path" <<<"$contents" || fail "the package lacks $path"
done
dpkg -x "$deb" "$work/root"
out=$("$work/root/usr/bin/tvkcrypt" --version) || fail "the packaged tool does not run: $out"
[ "$out" = "tvkcrypt $version" ] || fail "packaged tvkcrypt --version says '$out'"
# Debian's own checks, where lintian is installed (not installed for CI: it
# brings a large set of Perl packages)
if command -v lintian >/dev/null; then
    step "lintian"
    lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian finds errors or warnings in $deb"; }
else
    echo "SKIP: lintian not installed, the package is not checked against Debian's rules"
fi
echo "$deb: $(grep -E '^ (Depends|Installed-Size):' <<<"$info" | tr -s ' ' | tr '\n' ';')"
echo "shared library, install, pkg-config and Debian package all work"
