#!/bin/sh
# tvkcrypt.exe started by a Linux shell under Wine with its standard
# streams redirected to files: Wine hands it file handles that the system
# will not describe (GetFileInformationByHandle fails). Such an input is
# read as a stream; such an output may be the input, so it is refused
# where it could be, and so is --in-place from such an input.
#   ShellRedirectionsWin32.sh TOOL EMULATOR...
set -u
tool=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
export TVK_PASSWORD=redirected
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() { "$@" 2>err; }  # standard error kept in ./err

head -c 5000 /dev/urandom >in
cp in original
run "$@" "$tool" encrypt --no-check-file -o reference in || fail "encrypt -o: $(cat err)"

run "$@" "$tool" encrypt --no-check-file <in | cat >piped || fail "< file | cat: $(cat err)"
cmp -s piped reference || fail "< file | cat: not the ciphertext of -o"

for case in "encrypt in >>in" "encrypt <in >>in" "encrypt in >out"; do
    sh -c "\"\$@\" encrypt --no-check-file ${case#encrypt }" sh "$@" "$tool" 2>err
    status=$?
    [ $status -eq 1 ] || fail "$case: exit status $status, not 1"
    grep -q "cannot tell whether standard output is the input file" err || fail "$case: $(cat err)"
done
cmp -s in original || fail "the input changed"

cp original target
run "$@" "$tool" decrypt --no-check-file -f --in-place -o target <reference
status=$?
[ $status -eq 1 ] && grep -q "cannot tell whether the input is" err || fail "--in-place < file: status $status, $(cat err)"
cmp -s target original || fail "--in-place < file: the target changed"

[ $failures -eq 0 ] && echo "all redirections behave" || exit 1
