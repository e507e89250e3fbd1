#!/usr/bin/env bash
# tvkcrypt mount against gocryptfs (the anchor: a mature encrypted FUSE
# file system), the same data on /dev/shm, interleaved pairs, median and
# range of the ratios with the load (bench_lib.sh). Needs root (or a
# user fusermount3 lets mount), fuse3, gocryptfs and fio (Debian).
#
#   bench/mount_speed.sh [TVKCRYPT]      SIZE_MIB (default 1024), BENCH_PAIRS (5)
#
# Every read row mounts afresh, so that the page cache of the mount is
# cold, and times the read alone (rate in bytes per second).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$ROOT/build/default/tools/tvkcrypt}" 2>/dev/null || true)
size_mib=${SIZE_MIB:-1024}
source "$ROOT/bench/bench_lib.sh"
[[ -n $tool && -x $tool ]] || { echo "mount_speed.sh: no tvkcrypt (pass its path)" >&2; exit 1; }
for program in gocryptfs fio fusermount3; do
    command -v $program >/dev/null || { echo "mount_speed.sh: $program is needed (apt-get install ${program/fusermount3/fuse3})" >&2; exit 1; }
done

dir=$(mktemp -d /dev/shm/tvkcrypt-mount-bench.XXXXXX)
cleanup() {
    for point in "$dir"/m-*; do fusermount3 -u -z "$point" 2>/dev/null || true; done
    rm -rf "$dir"
}
trap cleanup EXIT
export TVK_PASSWORD=bench-password
mkdir -p "$dir/plain" "$dir/tvk" "$dir/tvkcheck" "$dir/gcfs" "$dir/m-tvk" "$dir/m-gc" "$dir/m-w"
head -c $((size_mib << 20)) /dev/urandom >"$dir/plain/big"
"$tool" encrypt -q --no-check-file "$dir/plain/big" -o "$dir/tvk/big.tvk"
"$tool" encrypt -q "$dir/plain/big" -o "$dir/tvkcheck/big.tvk"
gocryptfs -q -init -extpass "echo $TVK_PASSWORD" -scryptn 10 "$dir/gcfs" >/dev/null
gocryptfs -q -extpass "echo $TVK_PASSWORD" "$dir/gcfs" "$dir/m-gc"
cp "$dir/plain/big" "$dir/m-gc/big"
fusermount3 -u "$dir/m-gc"
rm -f "$dir/plain/big"

mount_tvk() { "$tool" mount -q "$@" "$dir/m-tvk"; }
mount_gc() { gocryptfs -q -extpass "echo $TVK_PASSWORD" "$dir/gcfs" "$dir/m-gc"; }
# rate of a command on a fresh mount: bytes per second
seq_read() {  # seq_read MOUNT_COMMAND POINT
    $1 >/dev/null
    local start end
    start=$(date +%s%N)
    cat "$2/big" >/dev/null
    end=$(date +%s%N)
    fusermount3 -u "$2"
    awk -v b=$((size_mib << 20)) -v ns=$((end - start)) 'BEGIN { printf "%.0f\n", b / (ns / 1e9) }'
}
rand_read() {  # rand_read MOUNT_COMMAND POINT: fio's random 4 KiB reads
    $1 >/dev/null
    fio --name=r --filename="$2/big" --rw=randread --bs=4k --ioengine=psync --runtime=4 --time_based \
        --invalidate=1 --output-format=terse 2>/dev/null | awk -F';' '{ print $7 * 1024 }'
    fusermount3 -u "$2"
}
seq_write() {  # seq_write MOUNT_COMMAND POINT: 1 GiB written and synced
    $1 >/dev/null
    local start end
    rm -f "$2/new"
    start=$(date +%s%N)
    dd if=/dev/zero of="$2/new" bs=1M count="$size_mib" conv=fsync status=none
    end=$(date +%s%N)
    rm -f "$2/new"
    fusermount3 -u "$2"
    awk -v b=$((size_mib << 20)) -v ns=$((end - start)) 'BEGIN { printf "%.0f\n", b / (ns / 1e9) }'
}
decrypt_rate() {
    local start end
    start=$(date +%s%N)
    "$tool" decrypt -q --no-check-file "$dir/tvk/big.tvk" -o /dev/null
    end=$(date +%s%N)
    awk -v b=$((size_mib << 20)) -v ns=$((end - start)) 'BEGIN { printf "%.0f\n", b / (ns / 1e9) }'
}
export -f seq_read rand_read seq_write decrypt_rate mount_tvk mount_gc
export dir tool size_mib

bench_header "tvkcrypt mount / gocryptfs, $size_mib MiB on /dev/shm"
rate_row "sequential read, cold cache: mount / gocryptfs" ">=1.3" \
    "seq_read 'mount_tvk $dir/tvk' $dir/m-tvk" "seq_read mount_gc $dir/m-gc"
rate_row "random 4 KiB reads (fio): mount / gocryptfs" ">=1.5" \
    "rand_read 'mount_tvk $dir/tvk' $dir/m-tvk" "rand_read mount_gc $dir/m-gc"
rate_row "sequential read with check files: mount / gocryptfs" ">=1.0" \
    "seq_read 'mount_tvk $dir/tvkcheck' $dir/m-tvk" "seq_read mount_gc $dir/m-gc"
rate_row "--read-write sequential write: mount / gocryptfs" ">=1.0" \
    "seq_write 'mount_tvk --read-write $dir/tvkcheck' $dir/m-tvk" "seq_write mount_gc $dir/m-gc"
rate_row "sequential read: mount / tvkcrypt decrypt -o /dev/null" "-" \
    "seq_read 'mount_tvk $dir/tvk' $dir/m-tvk" "decrypt_rate"
# memory of the mount: its peak resident size after reading everything
mount_tvk "$dir/tvkcheck"
cat "$dir/m-tvk/big" >/dev/null
pid=$(pgrep -n -f "tvkcrypt mount -q $dir/tvkcheck" || true)
echo "mount process peak memory after reading $size_mib MiB: $(awk '/VmHWM/ { print $2, $3 }' /proc/"$pid"/status 2>/dev/null)"
fusermount3 -u "$dir/m-tvk"
bench_summary
