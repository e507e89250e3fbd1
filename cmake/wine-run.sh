#!/bin/sh
# Runs a Windows program under Wine for CTest (the cross builds' test
# emulator): wine-run.sh ARCH PREFIX PROGRAM [ARGUMENTS...]
#   ARCH    win32 or win64
#   PREFIX  the Wine prefix to use; created on first use
set -e
arch=$1
prefix=$2
shift 2

export WINEARCH="$arch"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No desktop integration, no dialogs about missing Mono or Gecko.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

if [ "$arch" = win64 ]; then
    loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
else
    loader=$(command -v wine)
fi

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/system.reg" ]; then
            "$loader" wineboot -i >/dev/null 2>&1 || true
            wineserver -w || true
        fi
    ) 9>"$prefix.lock"
fi

exec "$loader" "$@"
