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

# "wall cpu" seconds of one run of a command (cpu = user + system)
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" 2>/dev/null; } 2>&1 | awk '{ printf "%.4f %.4f", $1, $2 + $3 }'
}
# keeps the run with the lower wall time: best NAME "wall cpu"
declare -A wall cpu
best() {
    local w=${2% *} c=${2#* }
    if [[ -z ${wall[$1]:-} ]] || awk -v a="$w" -v b="${wall[$1]}" 'BEGIN { exit !(a < b) }'; then
        wall[$1]=$w
        cpu[$1]=$c
    fi
}

enc_null() { "$tool" encrypt --quiet "$dir/in" > /dev/null; }
ssl_null() { openssl enc -aes-128-ctr -K "$key" -iv "$iv" -in "$dir/in" > /dev/null; }
enc_file() { "$tool" encrypt --quiet "$dir/in" -o "$dir/out"; }
copy_file() { cp "$dir/in" "$dir/out"; }

for ((i = 0; i < runs; i++)); do
    best enc_null "$(measure enc_null)"
    best ssl_null "$(measure ssl_null)"
    rm -f "$dir/out"
    best enc_file "$(measure enc_file)"
    rm -f "$dir/out"
    best copy_file "$(measure copy_file)"
    rm -f "$dir/out"
done

awk -v size="$size_mib" -v runs="$runs" \
    -v en="${wall[enc_null]}" -v sn="${wall[ssl_null]}" -v ef="${wall[enc_file]}" -v cp="${wall[copy_file]}" \
    -v enc="${cpu[enc_null]}" -v snc="${cpu[ssl_null]}" -v efc="${cpu[enc_file]}" -v cpc="${cpu[copy_file]}" '
BEGIN {
    printf "%d MiB in /dev/shm, best of %d runs (wall time; cpu = user + system of that run)\n", size, runs
    printf "  tvkcrypt encrypt > /dev/null          %6.3f s %6.0f MiB/s  cpu %6.3f s\n", en, size / en, enc
    printf "  openssl enc -aes-128-ctr > /dev/null  %6.3f s %6.0f MiB/s  cpu %6.3f s\n", sn, size / sn, snc
    printf "  tvkcrypt encrypt -o file              %6.3f s %6.0f MiB/s  cpu %6.3f s\n", ef, size / ef, efc
    printf "  cp file                               %6.3f s %6.0f MiB/s  cpu %6.3f s\n", cp, size / cp, cpc
    printf "ratio tvkcrypt/openssl (to /dev/null): %.2f  (target <= 1.00)\n", en / sn
    printf "ratio tvkcrypt/cp (file to file):      %.2f  (target <= 1.15)\n", ef / cp
}'
