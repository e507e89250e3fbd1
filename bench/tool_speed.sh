#!/usr/bin/env bash
# Wall-time comparison of tvkcrypt with openssl enc and cp on a file in
# memory (/dev/shm), all in one run on the same machine:
#   tvkcrypt encrypt FILE > /dev/null   vs  openssl enc -aes-128-ctr ... > /dev/null
#   tvkcrypt encrypt FILE -o OUT        vs  cp FILE OUT
# Each command runs RUNS times, interleaved; the best time of each counts.
#
# usage: bench/tool_speed.sh [path/to/tvkcrypt]
#   SIZE_MIB (default 512) and RUNS (default 5) can be set in the environment.
# Build the tool with -DCMAKE_BUILD_TYPE=RelWithDebInfo (or Release) first.
set -euo pipefail

tool=${1:-build/tools/tvkcrypt}
size_mib=${SIZE_MIB:-512}
runs=${RUNS:-5}

if [[ ! -x $tool ]]; then
    echo "tool_speed.sh: no tvkcrypt at '$tool' (pass its path)" >&2
    exit 1
fi
command -v openssl >/dev/null || { echo "tool_speed.sh: openssl is needed" >&2; exit 1; }

dir=$(mktemp -d /dev/shm/tvkcrypt-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
head -c $((size_mib << 20)) /dev/urandom > "$dir/in"

export TVK_PASSWORD=bench-password
# the same AES-128 key tvkcrypt uses: the first 16 bytes of SHA-1(password)
key=$(printf %s "$TVK_PASSWORD" | sha1sum | cut -c1-32)
iv=00000000000000000000000000000000

# seconds taken by a command, from bash's microsecond clock
elapsed() {
    local start=$EPOCHREALTIME
    "$@"
    local end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }'
}
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

enc_null() { "$tool" encrypt --quiet "$dir/in" > /dev/null; }
ssl_null() { openssl enc -aes-128-ctr -K "$key" -iv "$iv" -in "$dir/in" > /dev/null; }
enc_file() { "$tool" encrypt --quiet "$dir/in" -o "$dir/out"; }
copy_file() { cp "$dir/in" "$dir/out"; }

best_enc_null= best_ssl_null= best_enc_file= best_copy=
for ((i = 0; i < runs; i++)); do
    best_enc_null=$(min "$best_enc_null" "$(elapsed enc_null)")
    best_ssl_null=$(min "$best_ssl_null" "$(elapsed ssl_null)")
    rm -f "$dir/out"
    best_enc_file=$(min "$best_enc_file" "$(elapsed enc_file)")
    rm -f "$dir/out"
    best_copy=$(min "$best_copy" "$(elapsed copy_file)")
    rm -f "$dir/out"
done

awk -v size="$size_mib" -v runs="$runs" \
    -v en="$best_enc_null" -v sn="$best_ssl_null" -v ef="$best_enc_file" -v cp="$best_copy" '
BEGIN {
    printf "%d MiB in /dev/shm, best of %d runs (wall time)\n", size, runs
    printf "  tvkcrypt encrypt > /dev/null       %7.3f s  %7.0f MiB/s\n", en, size / en
    printf "  openssl enc -aes-128-ctr > /dev/null %5.3f s  %7.0f MiB/s\n", sn, size / sn
    printf "  tvkcrypt encrypt -o file           %7.3f s  %7.0f MiB/s\n", ef, size / ef
    printf "  cp file                            %7.3f s  %7.0f MiB/s\n", cp, size / cp
    printf "ratio tvkcrypt/openssl (to /dev/null): %.2f  (target <= 1.00)\n", en / sn
    printf "ratio tvkcrypt/cp (file to file):      %.2f  (target <= 1.15)\n", ef / cp
}'
