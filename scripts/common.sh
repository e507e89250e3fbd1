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
