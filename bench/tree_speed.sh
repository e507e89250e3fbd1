#!/usr/bin/env bash
# Wall time of tvkcrypt's jobs over trees and of rekey, next to cp in
# the same run, on /dev/shm: every row runs its two commands interleaved
# (A B A B ...) and prints the median and the range of the paired ratios
# with the load average before/after, or "load too high" instead of a
# figure (see bench_lib.sh for the rules and the environment knobs).
#
#   bench/tree_speed.sh [path/to/tvkcrypt]
#
# The trees: 10,000 files of 4 KiB in 100 directories, and 64 files of
# 16 MiB. Every tvkcrypt row writes or reads check files, as a user
# gets them. Build the tool with -DCMAKE_BUILD_TYPE=Release (or
# RelWithDebInfo) first.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-build/default/tools/tvkcrypt}" 2>/dev/null || true)
# shellcheck source=bench_lib.sh
source "$ROOT/bench/bench_lib.sh"
if [[ -z $tool || ! -x $tool ]]; then
    echo "tree_speed.sh: no tvkcrypt at '${1:-build/default/tools/tvkcrypt}' (pass its path)" >&2
    exit 1
fi

dir=$(mktemp -d /dev/shm/tvkcrypt-tree-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
export TVK_PASSWORD=bench-password
mkdir -p "$dir/small" "$dir/large"
head -c $((10000 * 4096)) /dev/urandom >"$dir/pool"
for ((d = 0; d < 100; d++)); do
    mkdir "$dir/small/d$d"
    split -b 4096 -d -a 3 <(dd if="$dir/pool" bs=409600 skip=$d count=1 status=none) "$dir/small/d$d/f"
done
for ((i = 0; i < 64; i++)); do head -c $((16 << 20)) /dev/urandom >"$dir/large/f$i"; done
rm -f "$dir/pool"

bench_header "tvkcrypt over trees in /dev/shm: wall-time ratios (below 1: tvkcrypt is faster)"

time_row "encrypt -r, 10,000 files of 4 KiB  /  cp -r" "<=3" \
    "rm -rf '$dir/out' && '$tool' encrypt -r -q '$dir/small' -o '$dir/out'" \
    "rm -rf '$dir/out' && cp -r '$dir/small' '$dir/out'"
time_row "encrypt -r, 64 files of 16 MiB  /  cp -r" "<=1.2" \
    "rm -rf '$dir/out' && '$tool' encrypt -r -q '$dir/large' -o '$dir/out'" \
    "rm -rf '$dir/out' && cp -r '$dir/large' '$dir/out'"

# check -r of the small tree: seconds beyond reading its data (cat of
# every file), which must stay under 2 s.
"$tool" encrypt -r -q "$dir/small" -o "$dir/small.enc"
span_row "check -r, 10,000 files: seconds beyond cat of them" "<=2" \
    "'$tool' check -r -q '$dir/small.enc'" \
    "find '$dir/small.enc' -type f -exec cat {} + > /dev/null"

# rekey against a plain encrypt of the same 1 GiB: the rekey reads,
# verifies, transforms twice, tags and writes; encrypt transforms and
# tags. Speed at least 0.9x: the time ratio at most 1/0.9.
cat "$dir"/large/f* >"$dir/one"
"$tool" encrypt -q "$dir/one" -o "$dir/one.tvk"
printf 'bench-password\n' >"$dir/same"
chmod 600 "$dir/same"
time_row "rekey of 1 GiB  /  encrypt -o file of it" "<=1.11" \
    "'$tool' rekey -q '$dir/one.tvk' --new-password-file '$dir/same'" \
    "rm -f '$dir/enc' '$dir/enc.tvkcheck' && '$tool' encrypt -q '$dir/one' -o '$dir/enc'"

bench_summary
