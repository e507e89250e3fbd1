# Shared by the scripts in this folder: package checks and the build.
# Sourced, not run.

TVK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TVK_JOBS=$(nproc 2>/dev/null || echo 2)

# tvk_require_packages PKG...: installs the missing Debian packages when
# run as root; otherwise prints the exact command and fails.
tvk_require_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "== installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    else
        echo "Missing Debian packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}

# tvk_require_volume_tools: what tests/tools/FatVolumeWin32.sh mounts a
# volume without hard links with (FAT where the kernel has the driver,
# exFAT through FUSE where it has not), installed as root only, as only
# root mounts; where that fails, the test is skipped and says why.
tvk_require_volume_tools() {
    [ "$(id -u)" -eq 0 ] || return 0
    tvk_require_packages dosfstools exfatprogs exfat-fuse fuse3 ||
        echo "note: no dosfstools or exFAT tools: the test on such a volume will be skipped"
}

# tvk_build PRESET [TARGET...]: configures and builds one preset.
tvk_build() {
    local preset=$1; shift
    cmake --preset "$preset" -S "$TVK_ROOT" >/dev/null
    if [ $# -gt 0 ]; then
        local targets=()
        local t
        for t in "$@"; do targets+=(--target "$t"); done
        cmake --build --preset "$preset" -j "$TVK_JOBS" "${targets[@]}"
    else
        cmake --build --preset "$preset" -j "$TVK_JOBS"
    fi
}
