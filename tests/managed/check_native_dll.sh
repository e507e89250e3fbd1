#!/usr/bin/env bash
# Checks the managed binding's native library from its headers:
#   check_native_dll.sh OBJDUMP DLL MACHINE [program]
# (MACHINE: i386 or x86-64; "program" checks an .exe: machine type and
# imports only), as printed by the cross toolchain's objdump, and
#   check_native_dll.sh NM LIBRARY elf
# for the Linux shared library, from nm -D.
# - the file is a DLL of the expected machine type;
# - the export table names exactly the entry points, undecorated: the
#   four of TVKCryptoWrapper.Helper and every function of the C
#   interface (taken from TvkCrypto/c.h), which the TvkCrypto namespace
#   imports (the assembly imports them by plain name with the cdecl
#   convention, so a 32-bit "_name" or "name@N" would not be found);
# - every imported DLL is part of Windows itself: a libstdc++-6.dll,
#   libgcc_s_*.dll or libwinpthread-1.dll import would make the DLL fail
#   to load on a machine without the compiler.
set -uo pipefail
objdump=$1
dll=$2
machine=$3
kind=${4:-dll}

c_header=$(dirname "${BASH_SOURCE[0]}")/../../bindings/c/TvkCrypto/c.h
expected_exports=$({ printf '%s\n' tvk_managed_release tvk_managed_result_bytes \
                        tvk_managed_result_text tvk_managed_run
                    grep -oE '^TVK_C_API [^(]*[ *]tvk_[a-z0-9_]+\(' "$c_header" |
                        grep -oE 'tvk_[a-z0-9_]+\($' | tr -d '(' ; } | sort)
[ "$(wc -l <<<"$expected_exports")" -gt 20 ] || { echo "FAIL: no C interface in $c_header"; exit 1; }
# Case-insensitive patterns of the DLLs every Windows has.
system_dlls='^(kernel32|msvcrt|ucrtbase|advapi32|bcrypt|ntdll|user32|shell32|api-ms-win-.*)\.dll$'

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ "$machine" = elf ]; then
    exports=$("$objdump" -D --defined-only "$dll" | awk '$2 ~ /^[TW]$/ { print $3 }' | sort) ||
        { echo "FAIL: $objdump -D $dll"; exit 1; }
    echo "exports:"; sed 's/^/  /' <<<"$exports"
    [ "$exports" = "$expected_exports" ] ||
        { echo "FAIL: exports differ from the entry points:"
          diff <(echo "$expected_exports") <(echo "$exports"); exit 1; }
    echo "ok: $dll"
    exit 0
fi

headers=$("$objdump" -p "$dll") || { echo "FAIL: $objdump -p $dll"; exit 1; }

format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$headers" | head -n1)
case $machine in
    i386)   want_format=pei-i386;   want_magic='(PE32)' ;;
    x86-64) want_format=pei-x86-64; want_magic='(PE32+)' ;;
    *)      echo "unknown machine type $machine"; exit 2 ;;
esac
[ "$format" = "$want_format" ] || fail "file format is '$format', expected $want_format"
grep -Eq "^Magic.*[[:space:]]$(sed 's/[()+]/\\&/g' <<<"$want_magic")\$" <<<"$headers" ||
    fail "optional header magic is not $want_magic"
if [ "$kind" = dll ]; then
    sed -n '/^Characteristics/,/^$/p' <<<"$headers" | grep -qx $'\tDLL' ||
        fail "the DLL flag is not set in the file characteristics"

    exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
              sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
    echo "exports:"; sed 's/^/  /' <<<"$exports"
    [ "$exports" = "$expected_exports" ] ||
        fail "export table differs from the entry points:
$(diff <(echo "$expected_exports") <(echo "$exports"))"
fi

imports=$(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$headers" | sort -u)
echo "imports:"; sed 's/^/  /' <<<"$imports"
[ -n "$imports" ] || fail "no import table found (objdump output not understood)"
while IFS= read -r name; do
    [ -z "$name" ] && continue
    grep -Eiq "$system_dlls" <<<"$name" || fail "imports $name, which is not a system DLL"
done <<<"$imports"

echo "machine: $format"
if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed for $dll"
    exit 1
fi
echo "ok: $dll"
