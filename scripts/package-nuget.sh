#!/usr/bin/env bash
# Builds the NuGet package TvkCrypto with Debian's nuget (on Mono),
# offline, and tests it as a consumer would:
#
#   scripts/package-nuget.sh     build/release/TvkCrypto.<version>.nupkg
#
#   TvkCrypto.<version>.nupkg
#     lib/net45/TVKCryptoWrapper.dll, TVKCryptoWrapper.xml   the assembly, its docs
#     runtimes/linux-x64/native/libTVKCryptoWrapperNative.so
#     runtimes/win-x86/native/TVKCryptoWrapperNative.dll
#     runtimes/win-x64/native/TVKCryptoWrapperNative.dll
#     README.md (README's ".NET" section), LICENSE.txt
#
# The Linux library comes from a Release build of its own
# (build/release-linux-x64, stripped), the Windows DLLs from the release
# zips' checked trees (scripts/release-windows.sh builds them). The
# package's listing is checked; then it is installed from a local folder
# source into an empty consumer, README's C# example is compiled against
# it with mcs and run with mono over tests/data/readme-example.tvk.
#
#   scripts/package-nuget.sh --check MANAGED_DIR WORK VERSION
# packs the assembly and Linux library of an existing build (MANAGED_DIR,
# its managed/ folder; no Windows DLLs) into WORK and runs the same
# consumer test: the test managed_nuget_package of the native build.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

die() { echo "package-nuget: $*" >&2; exit 1; }

# section_of_readme: README's ".NET" section, up to the next "## " title
section_of_readme() {
    awk '/^## \.NET$/ { on = 1; print; next } on && /^## / { exit } on' "$TVK_ROOT/README.md"
}

# example_of_readme: the first C# block of that section
example_of_readme() {
    section_of_readme | awk '/^```csharp$/ { on = 1; next } on && /^```$/ { exit } on'
}

# pack STAGE OUT VERSION: the nuspec over the staged tree, packed into OUT
pack() {
    local stage=$1 out=$2 version=$3
    section_of_readme >"$stage/README.md"
    cp "$TVK_ROOT/LICENSE" "$stage/LICENSE.txt"
    cat >"$stage/TvkCrypto.nuspec" <<NUSPEC
<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2011/08/nuspec.xsd">
  <metadata>
    <id>TvkCrypto</id>
    <version>$version</version>
    <title>TvkCrypto</title>
    <authors>tvkcrypto</authors>
    <requireLicenseAcceptance>false</requireLicenseAcceptance>
    <description>Password encryption in the tvkcrypto format (AES-128 counter mode, header-less, any byte range decrypts on its own): a seekable System.IO.Stream, whole files committed safely, check files that detect a wrong password and damaged blocks. The native library for Linux x64 and Windows x86/x64 is included. License: LICENSE.txt.</description>
    <tags>encryption aes stream</tags>
  </metadata>
  <files>
    <file src="lib/**" target="lib" />
    <file src="runtimes/**" target="runtimes" />
    <file src="README.md" target="" />
    <file src="LICENSE.txt" target="" />
  </files>
</package>
NUSPEC
    mkdir -p "$out"
    HOME="$stage/home" nuget pack "$stage/TvkCrypto.nuspec" -BasePath "$stage" \
        -OutputDirectory "$out" -NonInteractive -NoPackageAnalysis >/dev/null ||
        die "nuget pack failed"
}

# stage_managed STAGE MANAGED_DIR: the assembly, its docs and the Linux library
stage_managed() {
    local stage=$1 managed=$2
    rm -rf "$stage"
    mkdir -p "$stage/lib/net45" "$stage/runtimes/linux-x64/native"
    cp "$managed/TVKCryptoWrapper.dll" "$managed/TVKCryptoWrapper.xml" "$stage/lib/net45/"
    strip --strip-unneeded -o "$stage/runtimes/linux-x64/native/libTVKCryptoWrapperNative.so" \
        "$managed/libTVKCryptoWrapperNative.so"
}

# check_listing NUPKG ENTRY...: the package holds each entry
check_listing() {
    local nupkg=$1; shift
    local listing entry
    listing=$(cmake -E tar tf "$nupkg")
    for entry in "$@"; do
        grep -qxF "$entry" <<<"$listing" || die "$nupkg lacks $entry"
    done
    echo "ok: $nupkg holds $*"
}

# consumer FEED WORK VERSION: installs TvkCrypto from the folder FEED,
# builds README's example against it and runs it
consumer() {
    local feed=$1 work=$2 version=$3
    rm -rf "$work"
    mkdir -p "$work/home"
    (cd "$work" && HOME="$work/home" nuget install TvkCrypto -Version "$version" -Source "$feed" \
        -OutputDirectory packages -NoCache -NonInteractive >/dev/null) || die "nuget install failed"
    local package=$work/packages/TvkCrypto.$version
    example_of_readme >"$work/Example.cs"
    [ -s "$work/Example.cs" ] || die "README's .NET section has no C# example"
    mcs -nologo -warnaserror+ -out:"$work/Example.exe" -r:"$package/lib/net45/TVKCryptoWrapper.dll" \
        "$work/Example.cs" || die "the example does not compile against the package"
    cp "$package/lib/net45/TVKCryptoWrapper.dll" "$package/runtimes/linux-x64/native/libTVKCryptoWrapperNative.so" \
        "$work/"
    local output
    output=$(HOME="$work/home" mono "$work/Example.exe" "$TVK_ROOT/tests/data/readme-example.tvk" \
             "example password" 4) || die "the example failed"
    echo "example: $output"
    [ "$output" = "README's C example reads these 64 bytes from the middle of files" ] ||
        die "the example printed something else"
}

if [ "${1:-}" = --check ]; then
    [ $# -eq 4 ] || die "usage: $0 --check MANAGED_DIR WORK VERSION"
    managed=$2 work=$3 version=$4
    stage_managed "$work/stage" "$managed"
    rm -rf "$work/feed"
    pack "$work/stage" "$work/feed" "$version"
    check_listing "$work/feed/TvkCrypto.$version.nupkg" lib/net45/TVKCryptoWrapper.dll \
        lib/net45/TVKCryptoWrapper.xml runtimes/linux-x64/native/libTVKCryptoWrapperNative.so \
        README.md LICENSE.txt
    consumer "$work/feed" "$work/consumer" "$version"
    exit 0
fi
[ $# -eq 0 ] || die "usage: $0 [--check MANAGED_DIR WORK VERSION]"

tvk_require_packages cmake make g++ mono-mcs mono-runtime nuget binutils
linux=$TVK_ROOT/build/release-linux-x64
echo "== linux-x64: configure and build ($linux)"
cmake -S "$TVK_ROOT" -B "$linux" -DCMAKE_BUILD_TYPE=Release -DTVK_WERROR=ON \
    -DTVK_BUILD_TESTS=OFF -DTVK_BUILD_BENCH=OFF -DTVK_BUILD_TOOLS=OFF -DTVK_BUILD_MANAGED=ON >/dev/null
cmake --build "$linux" -j "$TVK_JOBS" --target tvk_managed
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$linux/CMakeCache.txt")

echo "== windows: the release zips' trees (scripts/release-windows.sh)"
"$TVK_ROOT/scripts/release-windows.sh" x86 x64

stage=$linux/nuget-stage
stage_managed "$stage" "$linux/managed"
for arch in x86 x64; do
    mkdir -p "$stage/runtimes/win-$arch/native"
    cp "$TVK_ROOT/build/release-windows-$arch/staging/tvkcrypto-$version-windows-$arch/managed/TVKCryptoWrapperNative.dll" \
        "$stage/runtimes/win-$arch/native/"
done
out=$TVK_ROOT/build/release
pack "$stage" "$out" "$version"
nupkg=$out/TvkCrypto.$version.nupkg
check_listing "$nupkg" lib/net45/TVKCryptoWrapper.dll lib/net45/TVKCryptoWrapper.xml \
    runtimes/linux-x64/native/libTVKCryptoWrapperNative.so \
    runtimes/win-x86/native/TVKCryptoWrapperNative.dll runtimes/win-x64/native/TVKCryptoWrapperNative.dll \
    README.md LICENSE.txt
echo "== consumer: install from a local folder, build and run README's example"
feed=$linux/nuget-feed
rm -rf "$feed"
mkdir -p "$feed"
cp "$nupkg" "$feed/"
consumer "$feed" "$linux/nuget-consumer" "$version"
echo "== $nupkg ($(stat -c %s "$nupkg") bytes)"
