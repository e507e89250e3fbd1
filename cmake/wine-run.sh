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
# No desktop integration, no dialogs about missing Mono or Gecko, and no
# debugger: started on a crash, Wine's debugger prints a backtrace and can
# leave the program with exit status 0, which would pass a crashed test.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d}"

if [ "$arch" = win64 ]; then
    loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
else
    loader=$(command -v wine)
fi

mkdir -p "$(dirname "$prefix")"
(
    # One program at a time sets things up; the others wait here.
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        "$loader" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
        wineserver -w 9>&- || true
    fi
    # Keep one wine server for the whole run: a server that exits between
    # two programs makes the next one fail to connect. It lingers 30
    # seconds after its last program ends; a second start only finds it
    # running (exit 2). A new server's session helpers are started here,
    # away from our output: started by a test program, they would hold
    # CTest's output pipe open until the server ends.
    # (Nothing started here may keep the lock: 9>&-.)
    if wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
        "$loader" wineboot </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.lock"

exec "$loader" "$@"
