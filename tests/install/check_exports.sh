#!/usr/bin/env bash
# Checks that a shared libtvkcrypto exports exactly its public API.
#  1. Every class, free function and global declared at file level in the
#     installed headers carries NPT_EXPORT, and every function of the C
#     interface (c.h) TVK_C_API (a declaration without it would be hidden,
#     and programs using it would fail to link).
#  2. Every symbol the library exports belongs to one of those
#     declarations: no internal helper leaks out.
#  3. The main entry points are among the exported symbols, and so is
#     every function of the C interface.
#
# Usage: check_exports.sh LIBRARY INSTALLED_INCLUDE_DIR
set -uo pipefail
library=$1
include_dir=$2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# 1. Declarations at file level (column 0) in the installed headers. A
#    class template's line follows a "template" line and is skipped:
#    templates live in the headers and are not exported.
unmarked=$(awk '
    FNR == 1 { previous = "" }
    /^(class|struct) (NPT|TVK)_[A-Za-z0-9_]+/ && !/;[[:space:]]*(\/\/.*)?$/ &&
        !/NPT_EXPORT/ && previous !~ /^template/ { print FILENAME ":" FNR ": " $0 }
    /^extern / && !/NPT_EXPORT/ && !/^extern "C"/ { print FILENAME ":" FNR ": " $0 }
    /^[A-Za-z_].*[ *]tvk_[a-z0-9_]+\(/ && !/^(TVK_C_API|typedef) / { print FILENAME ":" FNR ": " $0 }
    /^[A-Za-z_][A-Za-z0-9_:<>]*[[:space:]*&]+((NPT|TVK)_[A-Za-z0-9_]*|operator[^(]*)\(/ &&
        !/^(NPT_EXPORT|typedef|inline|static|return|template|constexpr) / &&
        previous !~ /^template/ { print FILENAME ":" FNR ": " $0 }
    { previous = $0 }
' "$include_dir"/*.h)
if [ -n "$unmarked" ]; then
    fail "public declarations without NPT_EXPORT or TVK_C_API:"
    sed 's/^/  /' <<<"$unmarked"
fi

# The names those declarations give: classes, functions, globals.
public_names=$(cat "$include_dir"/*.h | grep -E '^(class|struct|extern|NPT_EXPORT)' |
    grep NPT_EXPORT |
    sed -E 's/^(class|struct) NPT_EXPORT ([A-Za-z0-9_]+).*/\2/;
            s/^extern NPT_EXPORT .*[ *]([A-Za-z0-9_]+) *;.*/\1/;
            s/^NPT_EXPORT .*[ *&](operator[^(]*)\(.*/\1/;
            s/^NPT_EXPORT .*[ *&]([A-Za-z0-9_]+)\(.*/\1/' | sort -u)
[ -n "$public_names" ] || fail "no NPT_EXPORT declarations found in $include_dir"
# and the functions of the C interface
c_names=$(cat "$include_dir"/*.h | grep -E '^TVK_C_API ' |
    sed -E 's/^TVK_C_API .*[ *](tvk_[a-z0-9_]+)\(.*/\1/' | sort -u)
[ -n "$c_names" ] || fail "no TVK_C_API declarations found in $include_dir"
public_names=$(printf '%s\n%s\n' "$public_names" "$c_names")

# 2. Exported symbols, demangled, reduced to the name they belong to.
symbols=$(nm -D --defined-only -C "$library") || { echo "FAIL: nm cannot read $library"; exit 1; }
[ -n "$symbols" ] || fail "$library exports nothing"
count=0
while read -r _ type name; do
    count=$((count + 1))
    case $name in
        _init|_fini|_edata|_end|__bss_start) continue ;;
    esac
    # vague-linkage copies of standard-library templates the compiler may
    # make visible (weak); they are not the library's own names
    if [[ $type =~ ^[VWu]$ &&
          $name =~ ^((vtable|typeinfo|typeinfo\ name)\ for\ )?(std::|__gnu_cxx::|void\ std::|bool\ std::) ]]; then
        continue
    fi
    owner=$(sed -E 's/^(vtable|typeinfo|typeinfo name|VTT|construction vtable|guard variable) for //;
                   s/^(non-virtual|virtual) thunk to //;
                   s/^(operator[^(]*)\(.*/\1/;
                   /^operator/!s/^([A-Za-z0-9_]+).*/\1/' <<<"$name")
    grep -qxF -- "$owner" <<<"$public_names" ||
        fail "exported symbol is not public API: $name"
done <<<"$symbols"

# 3. Entry points that callers use.
for required in 'TVK_CryptoHelper::EncryptDecryptWithPassword(' 'TVK_CryptoHelper::GenerateKey(' \
                'NPT_ResultText(' 'TVK_DefaultBlockCipherFactory::Instance' \
                'NPT_BlockCipher::Create(' 'typeinfo for NPT_InputStream' 'NPT_WipeMemory('; do
    grep -qF -- "$required" <<<"$symbols" || fail "$library does not export $required"
done
while read -r name; do
    grep -qE -- " $name\$" <<<"$symbols" || fail "$library does not export the C function $name"
done <<<"$c_names"

if [ "$failures" -ne 0 ]; then
    echo "$failures export check(s) failed"
    exit 1
fi
echo "$count exported symbols, all public API ($(wc -l <<<"$public_names") public names," \
     "$(wc -l <<<"$c_names") C functions)"
