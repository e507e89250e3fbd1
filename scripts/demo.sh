#!/usr/bin/env bash
# Builds the library and runs the example program: AES-128 encryption
# of the FIPS-197 example block, printed in hexadecimal.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tvk_require_packages cmake g++ make libgtest-dev libgmock-dev

cd "$TVK_ROOT"
tvk_build default aes_example
./build/default/aes_example
