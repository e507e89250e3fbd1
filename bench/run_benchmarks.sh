#!/usr/bin/env bash
# Runs every benchmark program (bench/bench_*.cpp) and OpenSSL's speed test
# in one go, on the same machine, and prints throughput ratios.
#
#   bench/run_benchmarks.sh [build-dir]
#
# Without a build directory, build-bench/ under the repository root is
# configured as a Release build. The bench programs are (re)built in
# either case. Environment knobs: BENCH_MIN_TIME (seconds per benchmark,
# default 0.5), BENCH_REPETITIONS (default 3; medians are used),
# BENCH_OPENSSL_SECONDS (default 2).
#
# To add a benchmark, add a bench/bench_<name>.cpp program; to report on
# it, add a line to RATIOS below.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${1:-$ROOT/build-bench}
MIN_TIME=${BENCH_MIN_TIME:-0.5}
REPETITIONS=${BENCH_REPETITIONS:-3}
OPENSSL_SECONDS=${BENCH_OPENSSL_SECONDS:-2}

# Block size for `openssl speed`, in bytes.
OPENSSL_BLOCK=16384

# One ratio per line: label|numerator|denominator. Each side is either a
# benchmark name as the programs report it, or openssl:<cipher> for the
# rate of `openssl speed -evp <cipher>` on OPENSSL_BLOCK-byte blocks.
RATIOS=(
  "CTR ProcessBuffer 16 KiB / OpenSSL AES-128-CTR 16 KiB|BM_CtrProcessBuffer/16384|openssl:aes-128-ctr"
  "CTR ProcessBuffer 16 KiB / memcpy 16 KiB|BM_CtrProcessBuffer/16384|BM_Memcpy/16384"
  "CTR ProcessBuffer 1 MiB / memcpy 1 MiB|BM_CtrProcessBuffer/1048576|BM_Memcpy/1048576"
  "Buffer form encrypt 64 MiB / OpenSSL AES-128-CTR 16 KiB|BM_BufferFormEncrypt/reused_output:1|openssl:aes-128-ctr"
  "Buffer form decrypt 64 MiB / OpenSSL AES-128-CTR 16 KiB|BM_BufferFormDecrypt/reused_output:1|openssl:aes-128-ctr"
  "Buffer form encrypt 64 MiB, new output / OpenSSL 16 KiB|BM_BufferFormEncrypt/reused_output:0|openssl:aes-128-ctr"
  "Decrypting stream 64 KiB reads / OpenSSL 16 KiB|BM_DecryptingStreamRead/65536|openssl:aes-128-ctr"
  "Decrypting stream 16-byte reads / OpenSSL 16 KiB|BM_DecryptingStreamRead/16|openssl:aes-128-ctr"
  "Seek + 4 KiB read on 64 MiB / OpenSSL 16 KiB|BM_DecryptingStreamRandomAccess|openssl:aes-128-ctr"
  "SHA-256 1 MiB / OpenSSL SHA-256 1 MiB|BM_Sha256|BM_OpenSslSha256"
  "SHA-256 portable 1 MiB / OpenSSL SHA-256 1 MiB|BM_Sha256Portable|BM_OpenSslSha256"
  "HMAC-SHA-256 1 MiB / OpenSSL HMAC-SHA-256 1 MiB|BM_HmacSha256|BM_OpenSslHmacSha256"
  "HMAC-SHA-256 pair 2x512 KiB / OpenSSL HMAC 1 MiB|BM_HmacSha256Pair|BM_OpenSslHmacSha256"
  "Check-file verify 1 MiB / key stream decrypt 1 MiB|BM_CheckFileVerifyBlocks|BM_CtrDecrypt"
  "PBKDF2-HMAC-SHA-256 / OpenSSL PBKDF2-HMAC-SHA-256|BM_Pbkdf2Sha256|BM_OpenSslPbkdf2Sha256"
)

# --- build ----------------------------------------------------------------
programs=()
for source in "$ROOT"/bench/bench_*.cpp; do
  programs+=("$(basename "$source" .cpp)")
done

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
    -DTVK_BUILD_TESTS=OFF -DTVK_BUILD_TOOLS=OFF -DTVK_BUILD_MANAGED=OFF >/dev/null
else
  cmake -S "$ROOT" -B "$BUILD_DIR" >/dev/null   # picks up new bench programs
fi
built=()
for program in "${programs[@]}"; do
  if cmake --build "$BUILD_DIR" -j2 --target "$program" >"$BUILD_DIR/$program.build.log" 2>&1; then
    built+=("$program")
  else
    echo "warning: $program did not build (see $BUILD_DIR/$program.build.log); skipped" >&2
  fi
done

# --- run ------------------------------------------------------------------
declare -A RATE   # name -> bytes per second
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for program in "${built[@]}"; do
  [ "$program" = bench_aes ] && continue   # has its own interleaved block below
  echo "== $program"
  "$BUILD_DIR/bench/$program" \
    --benchmark_min_time="$MIN_TIME" \
    --benchmark_repetitions="$REPETITIONS" \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/$program.csv" --benchmark_out_format=csv
  # rows: "name_median",iterations,real,cpu,unit,bytes_per_second,...
  while IFS=, read -r name rate; do
    RATE[$name]=$rate
  done < <(awk -F, '/_median"?,/ { gsub(/"/, "", $1); sub(/_median$/, "", $1);
                                   if ($6 != "") print $1 "," $6 }' "$work/$program.csv")
done

openssl_ciphers=$(printf '%s\n' "${RATIOS[@]}" | tr '|' '\n' | sed -n 's/^openssl://p' | sort -u)
for cipher in $openssl_ciphers; do
  echo "== openssl speed -evp $cipher ($OPENSSL_BLOCK-byte blocks)"
  openssl version
  if ! openssl speed -evp "$cipher" -seconds "$OPENSSL_SECONDS" -bytes "$OPENSSL_BLOCK" -mr \
         >"$work/openssl.txt" 2>/dev/null; then
    # older releases have no -bytes: take the matching column of the default sizes
    openssl speed -evp "$cipher" -seconds "$OPENSSL_SECONDS" -mr >"$work/openssl.txt" 2>/dev/null
  fi
  # +H:<size>:<size>...  and  +F:<n>:<name>:<rate>:<rate>... (bytes per second)
  rate=$(awk -F: -v want="$OPENSSL_BLOCK" '
      /^\+H:/ { for (i = 2; i <= NF; i++) if ($i == want) column = i + 2 }
      /^\+F:/ && column { print $column }' "$work/openssl.txt")
  if [ -z "$rate" ]; then
    echo "no $OPENSSL_BLOCK-byte figure from openssl speed for $cipher" >&2
    exit 1
  fi
  RATE[openssl:$cipher]=$rate
  awk -v r="$rate" 'BEGIN { printf "%s: %.3f GB/s\n", "'"$cipher"'", r / 1e9 }'
done

# --- AES implementations against OpenSSL EVP --------------------------------
# bench_aes measures every AES implementation of the library and OpenSSL's
# EVP back to back in one process. It runs AES_ROUNDS times (default 5,
# BENCH_AES_ROUNDS), so the two sides of each ratio alternate; each round
# gives one ratio, reported as the median and the range over the rounds.
# "hw" stands for the hardware implementation this machine has (x86/arm).
AES_RATIOS=(
  "AES-128 single blocks, hardware / OpenSSL EVP ECB|BM_AesBlock_hw|BM_OpenSslBlock"
  "AES-128 64-block batches, hardware / OpenSSL EVP ECB|BM_AesBlocks_hw|BM_OpenSslBlocks"
  "AES-128 CBC encrypt 1 MiB, hardware / OpenSSL EVP|BM_AesCbcEncrypt_hw|BM_OpenSslCbcEncrypt"
  "AES-128 CBC decrypt 1 MiB, hardware / OpenSSL EVP|BM_AesCbcDecrypt_hw|BM_OpenSslCbcDecrypt"
  "AES-128 single blocks, portable / old table code|BM_AesBlock_portable|BM_AesBlock_table"
  "AES-128 64-block batches, portable / old table code|BM_AesBlocks_portable|BM_AesBlocks_table"
  "AES-128 single blocks, portable / OpenSSL EVP ECB|BM_AesBlock_portable|BM_OpenSslBlock"
)
aes_status=0
if [[ " ${built[*]} " == *" bench_aes "* ]]; then
  aes_rounds=${BENCH_AES_ROUNDS:-5}
  declare -A AES_SAMPLES   # label -> space-separated ratios, one per round
  echo "== bench_aes, $aes_rounds rounds (load: $(cut -d' ' -f1-3 /proc/loadavg))"
  for ((round = 1; round <= aes_rounds; round++)); do
    "$BUILD_DIR/bench/bench_aes" --benchmark_min_time="$MIN_TIME" \
      --benchmark_out="$work/aes.csv" --benchmark_out_format=csv >"$work/aes.txt" 2>&1
    [ "$round" = 1 ] && head -1 "$work/aes.txt"
    declare -A AES_RATE=()
    while IFS=, read -r name rate; do
      AES_RATE[$name]=$rate
    done < <(awk -F, '/^"BM_/ { gsub(/"/, "", $1); if ($6 != "") print $1 "," $6 }' "$work/aes.csv")
    hw=x86
    [ -n "${AES_RATE[BM_AesBlock_x86]:-}" ] || hw=arm
    for line in "${AES_RATIOS[@]}"; do
      IFS='|' read -r label numerator denominator <<<"$line"
      n=${AES_RATE[${numerator/_hw/_$hw}]:-}
      d=${AES_RATE[$denominator]:-}
      [ -n "$n" ] && [ -n "$d" ] || continue
      AES_SAMPLES[$label]+="$(awk -v n="$n" -v d="$d" 'BEGIN { printf "%.3f", n / d }') "
    done
  done
  echo
  echo "== AES ratios (throughput, >1 means the library is faster): median [min - max] of $aes_rounds rounds"
  for line in "${AES_RATIOS[@]}"; do
    IFS='|' read -r label _ _ <<<"$line"
    samples=${AES_SAMPLES[$label]:-}
    if [ -z "$samples" ]; then
      echo "$label: no figures (implementation not available here)"
      continue
    fi
    tr ' ' '\n' <<<"$samples" | sed '/^$/d' | sort -g | awk -v l="$label" '
      { v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                           printf "%-58s %6.2f   [%.2f - %.2f]\n", l, m, v[1], v[NR] }'
  done
fi

# --- report -----------------------------------------------------------------
echo
echo "== Ratios (throughput, >1 means the numerator is faster)"
status=0
for line in "${RATIOS[@]}"; do
  IFS='|' read -r label numerator denominator <<<"$line"
  n=${RATE[$numerator]:-}
  d=${RATE[$denominator]:-}
  if [ -z "$n" ] || [ -z "$d" ]; then
    echo "$label: no figure for $numerator or $denominator" >&2
    status=1
    continue
  fi
  awk -v l="$label" -v n="$n" -v d="$d" \
    'BEGIN { printf "%-58s %6.2f   (%.2f / %.2f GB/s)\n", l, n / d, n / 1e9, d / 1e9 }'
done
exit $((status | aes_status))
