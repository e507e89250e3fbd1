#!/usr/bin/env bash
# Wall time of tvkcrypt next to openssl enc and cp on one file in memory
# (/dev/shm), in one run on the same machine. Every row runs its two
# commands interleaved (A B A B ...) and prints the median and the range
# of the paired time ratios (below 1: tvkcrypt is faster) with the load
# average before/after, or "load too high" instead of a figure (see
# bench_lib.sh for the rules and the environment knobs).
#
#   bench/tool_speed.sh [path/to/tvkcrypt]
#
# SIZE_MIB (default 512) sizes the file. Build the tool with
# -DCMAKE_BUILD_TYPE=Release (or RelWithDebInfo) first.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-build/default/tools/tvkcrypt}" 2>/dev/null || true)
size_mib=${SIZE_MIB:-512}
# shellcheck source=bench_lib.sh
source "$ROOT/bench/bench_lib.sh"

if [[ -z $tool || ! -x $tool ]]; then
    echo "tool_speed.sh: no tvkcrypt at '${1:-build/default/tools/tvkcrypt}' (pass its path)" >&2
    exit 1
fi
command -v openssl >/dev/null || { echo "tool_speed.sh: openssl is needed" >&2; exit 1; }

dir=$(mktemp -d /dev/shm/tvkcrypt-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
head -c $((size_mib << 20)) /dev/urandom >"$dir/in"

export TVK_PASSWORD=bench-password
# the same AES-128 key tvkcrypt uses: the first 16 bytes of SHA-1(password)
key=$(printf %s "$TVK_PASSWORD" | sha1sum | cut -c1-32)
iv=00000000000000000000000000000000
ssl="openssl enc -aes-128-ctr -K $key -iv $iv"

# With a free core the tool's two workers run side by side; without one
# they share the benchmark's core. The file-to-file target follows the
# load measured before any row ran (which the rows themselves then raise):
# at most 0.5 beyond this benchmark counts as a free core.
free_core=$(awk -v l="$(bench_load)" -v c="$BENCH_CORES" 'BEGIN { print (c >= 2 && l <= c - 1.5) ? 1 : 0 }')
if [[ $free_core == 1 ]]; then file_target="<=1.0"; file_note="second core free"; else file_target="<=1.2"; file_note="no free core"; fi

bench_header "tvkcrypt, ${size_mib} MiB in /dev/shm: wall-time ratios (below 1: tvkcrypt is faster)"

time_row "tvkcrypt encrypt > /dev/null  /  openssl enc > /dev/null" "<=0.5" \
    "'$tool' encrypt --quiet '$dir/in' > /dev/null" \
    "$ssl -in '$dir/in' > /dev/null"

time_row "tvkcrypt encrypt -o file  /  cp ($file_note)" "$file_target" \
    "rm -f '$dir/out' && '$tool' encrypt --quiet --no-check-file '$dir/in' -o '$dir/out'" \
    "rm -f '$dir/out' && cp '$dir/in' '$dir/out'"

time_row "cat | tvkcrypt encrypt | cat  /  cat | openssl enc | cat" "<=0.8" \
    "cat '$dir/in' | '$tool' encrypt --quiet | cat > /dev/null" \
    "cat '$dir/in' | $ssl | cat > /dev/null"

# Decryption verified against a check file: the block tags are checked
# by the same two workers that decrypt. The row includes the fixed cost
# of the key derivation (calibrated to about 0.2 s); the next row takes
# it off.
"$tool" encrypt --quiet "$dir/in" -o "$dir/enc"
time_row "tvkcrypt decrypt -o file: with check file  /  without" "-" \
    "rm -f '$dir/out' && '$tool' decrypt --quiet '$dir/enc' -o '$dir/out'" \
    "rm -f '$dir/out' && '$tool' decrypt --quiet --no-check-file '$dir/enc' -o '$dir/out'"
# The data pass alone: each pair also times the key derivation (a check
# of 1 KiB minus its plain decryption) and takes it off the first time.
head -c 1024 "$dir/in" >"$dir/small"
"$tool" encrypt --quiet "$dir/small" -o "$dir/small.enc"
data_pass_row() {
    local label="tvkcrypt decrypt -o file: with check file less its key derivation  /  without"
    _bench_should_run "$label" || return 0
    local before after ratios=() kdfs=() i a b k0 k1
    before=$(bench_load)
    for ((i = 0; i < BENCH_PAIRS; i++)); do
        a=$(_bench_seconds "rm -f '$dir/out' && '$tool' decrypt --quiet '$dir/enc' -o '$dir/out'")
        b=$(_bench_seconds "rm -f '$dir/out' && '$tool' decrypt --quiet --no-check-file '$dir/enc' -o '$dir/out'")
        k1=$(_bench_seconds "'$tool' check --quiet '$dir/small.enc'")
        k0=$(_bench_seconds "'$tool' decrypt --quiet --no-check-file '$dir/small.enc' > /dev/null")
        kdfs+=("$(awk -v x="$k1" -v y="$k0" 'BEGIN { printf "%.3f", x - y }')")
        ratios+=("$(awk -v a="$a" -v b="$b" -v k="${kdfs[-1]}" 'BEGIN { printf "%.6f", (a - k) / b }')")
    done
    after=$(bench_load)
    _bench_report "$label" "<=1.5" "$before" "$after" "${ratios[@]}"
    echo "check-file key derivation per run (s): ${kdfs[*]}"
}
data_pass_row

bench_summary
