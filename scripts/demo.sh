#!/usr/bin/env bash
# Builds the tvkcrypt tool and round-trips the bundled sample file:
# encrypt, decrypt, compare, with a demo password in TVK_PASSWORD.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# the tool alone: no test framework, no Mono (tests switch themselves off
# when GoogleTest is missing; only test.sh installs what the tests need)
tvk_require_packages cmake g++ make

cd "$TVK_ROOT"
tvk_build default tvkcrypt
tool=./build/default/tools/tvkcrypt
sample=examples/sample.txt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export TVK_PASSWORD="demo password"
echo "== encrypting $sample ($(wc -c < "$sample") bytes) with the password in TVK_PASSWORD"
"$tool" encrypt "$sample" -o "$work/sample.tvk"
echo "   encrypted: $(wc -c < "$work/sample.tvk") bytes, first 16 in hex: $(head -c 16 "$work/sample.tvk" | od -An -tx1 | tr -d ' \n')"
echo "== decrypting it again"
"$tool" decrypt "$work/sample.tvk" -o "$work/sample.txt"
if cmp -s "$sample" "$work/sample.txt"; then
    echo "== round trip OK: the decrypted file equals $sample"
else
    echo "== round trip FAILED" >&2
    exit 1
fi
