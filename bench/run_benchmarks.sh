#!/usr/bin/env bash
# The library's speed against OpenSSL's AES-128-CTR, measured in one run
# on the same machine: every row runs its two sides interleaved
# (A B A B ...) and prints the median and the range of the paired ratios
# with the load average before/after, or "load too high" instead of a
# figure (see bench_lib.sh for the rules and the environment knobs).
#
#   bench/run_benchmarks.sh [build-dir]
#
# Without a build directory, build-bench/ under the repository root is
# configured as a Release build; the bench programs are (re)built either
# way. OpenSSL's development files must be installed for the baselines
# (libssl-dev; the script installs it when run as root).
#
# Optional: BENCH_BASELINE_DIR=<build dir of an older revision, built
# with this revision's bench/ sources> adds rows that compare with that
# revision's figures, measured in the same run.
# BENCH_FILE_MIB (default 512) sizes the file for the file form rows.
#
# To add a comparison, add one bench_row or time_row call below.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BENCH_BUILD_DIR=${1:-$ROOT/build-bench}
FILE_MIB=${BENCH_FILE_MIB:-512}
# shellcheck source=bench_lib.sh
source "$ROOT/bench/bench_lib.sh"
# shellcheck source=../scripts/common.sh
source "$ROOT/scripts/common.sh"
tvk_require_packages libbenchmark-dev libssl-dev openssl

# --- build ----------------------------------------------------------------
if [ ! -f "$BENCH_BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BENCH_BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
    -DTVK_BUILD_TESTS=OFF -DTVK_BUILD_TOOLS=OFF -DTVK_BUILD_MANAGED=OFF >/dev/null
else
  cmake -S "$ROOT" -B "$BENCH_BUILD_DIR" >/dev/null   # picks up new bench programs
fi
for source in "$ROOT"/bench/*.cpp; do
  program=$(basename "$source" .cpp)
  if ! cmake --build "$BENCH_BUILD_DIR" -j2 --target "$program" >"$BENCH_BUILD_DIR/$program.build.log" 2>&1; then
    echo "warning: $program did not build (see $BENCH_BUILD_DIR/$program.build.log)" >&2
  fi
done

work=$(mktemp -d /dev/shm/tvk-bench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((FILE_MIB << 20)) /dev/urandom >"$work/in"
export TVK_PASSWORD=bench-password
# the key the file form derives: the first 16 bytes of SHA-1(password)
key=$(printf %s "$TVK_PASSWORD" | sha1sum | cut -c1-32)
iv=00000000000000000000000000000000
file_form=$BENCH_BUILD_DIR/bench/tvk_file_form

bench_header "tvkcrypto library vs OpenSSL $(openssl version | cut -d' ' -f2) AES-128-CTR"
echo "throughput ratios (above 1: the library is faster), time ratios (below 1: the library is faster)"
echo

# --- rows -------------------------------------------------------------------
P=bench_password
bench_row "ProcessBuffer 16 KiB / EVP 16 KiB"               ">=5"   bench_ctr BM_CtrProcessBuffer/16384    bench_ctr BM_EvpAes128Ctr/16384
bench_row "ProcessBuffer 1 MiB / EVP 1 MiB"                 ">=2.5" bench_ctr BM_CtrProcessBuffer/1048576  bench_ctr BM_EvpAes128Ctr/1048576
bench_row "ProcessBuffer 64 MiB / EVP 64 MiB"               ">=1.4" bench_ctr BM_CtrProcessBuffer/67108864 bench_ctr BM_EvpAes128Ctr/67108864
bench_row "  memcpy 64 MiB / EVP 64 MiB (the memory's limit)" "-"   bench_ctr BM_Memcpy/67108864 bench_ctr BM_EvpAes128Ctr/67108864
bench_row "Buffer form encrypt 64 MiB / EVP 64 MiB"         ">=1.2" $P BM_BufferFormEncrypt/reused_output:1 $P BM_EvpBuffer
bench_row "Buffer form decrypt 64 MiB / EVP 64 MiB"         ">=1.2" $P BM_BufferFormDecrypt/reused_output:1 $P BM_EvpBuffer
bench_row "Encrypting stream, memory, 64 KiB reads / EVP"   ">=0.8" $P BM_EncryptingStreamRead/request:65536/source:0 $P BM_EvpStreamRead/65536
bench_row "Decrypting stream, memory, 64 KiB reads / EVP"   ">=0.8" $P BM_DecryptingStreamRead/request:65536/source:0 $P BM_EvpStreamRead/65536
bench_row "Decrypting stream, caller's stream, 64 KiB / EVP" "-"    $P BM_DecryptingStreamRead/request:65536/source:2 $P BM_EvpStreamRead/65536
bench_row "Random Seek + 4 KiB read, memory / EVP"          ">=0.8" $P BM_DecryptingStreamRandomAccess/source:0 $P BM_EvpRandomAccess
time_row  "File form ${FILE_MIB} MiB, time / openssl enc"   "<=1.5" \
  "'$file_form' encrypt '$work/in' '$work/out'" \
  "openssl enc -aes-128-ctr -K $key -iv $iv -in '$work/in' -out '$work/out'"

if [[ -n ${BENCH_BASELINE_DIR:-} ]]; then
  # The same measurements of an older revision, built with this
  # revision's bench sources; callers' own streams are read slice by
  # slice in both, so these rows show what changed on that path.
  O=$BENCH_BASELINE_DIR/bench/bench_password
  for direction in Encrypting Decrypting; do
    bench_row "$direction stream, caller's stream / older build"           ">=1.5" \
      $P BM_${direction}StreamRead/request:65536/source:2 $O BM_${direction}StreamRead/request:65536/source:2
    bench_row "  caller's class derived from the memory stream / older"    ">=1.5" \
      $P BM_${direction}StreamRead/request:65536/source:1 $O BM_${direction}StreamRead/request:65536/source:1
  done
fi


# AES implementations (bench_aes forces each one in turn)
A=bench_aes
bench_row "AES-128 single blocks, AES-NI / EVP ECB"           ">=0.8" $A BM_AesBlock_x86 $A BM_OpenSslBlock
bench_row "AES-128 64-block batches, AES-NI / EVP ECB"        "-"     $A BM_AesBlocks_x86 $A BM_OpenSslBlocks
bench_row "AES-128 CBC encrypt 1 MiB, AES-NI / EVP"           ">=0.8" $A BM_AesCbcEncrypt_x86 $A BM_OpenSslCbcEncrypt
bench_row "AES-128 CBC decrypt 1 MiB, AES-NI / EVP"           ">=0.8" $A BM_AesCbcDecrypt_x86 $A BM_OpenSslCbcDecrypt
bench_row "AES-128 single blocks, portable / old table code"  ">=0.2" $A BM_AesBlock_portable $A BM_AesBlock_table
bench_row "AES-128 64-block batches, portable / old table"    "-"     $A BM_AesBlocks_portable $A BM_AesBlocks_table

# digests and the check file
C=bench_check
bench_row "SHA-256 1 MiB / OpenSSL SHA-256"                   "-"     $C BM_Sha256 $C BM_OpenSslSha256
bench_row "HMAC-SHA-256 1 MiB / OpenSSL HMAC-SHA-256"         "-"     $C BM_HmacSha256 $C BM_OpenSslHmacSha256
bench_row "HMAC-SHA-256 pair 2x512 KiB / OpenSSL HMAC 1 MiB"  "-"     $C BM_HmacSha256Pair $C BM_OpenSslHmacSha256
bench_row "Check-file verify 1 MiB / key stream decrypt 1 MiB" "-"    $C BM_CheckFileVerifyBlocks $C BM_CtrDecrypt

# the C interface's reader, 64 MiB in /dev/shm, reads in order: verified
# against the check file / not verified (the cache of verified blocks
# keeps 4 KiB reads from verifying a 512 KiB block 128 times)
R=bench_capi
bench_row "C reader, 4 KiB reads, verified / not verified"    ">=0.1" $R BM_CReaderRead/verified:1/size:4096 $R BM_CReaderRead/verified:0/size:4096
bench_row "C reader, 1 MiB reads, verified / not verified"    "-"     $R BM_CReaderRead/verified:1/size:1048576 $R BM_CReaderRead/verified:0/size:1048576

bench_summary
