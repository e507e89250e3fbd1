#!/usr/bin/env bash
# Checks that the man page and the bash and zsh completions of tvkcrypt
# cover every command and option that the live `tvkcrypt --help` lists,
# so that an option added to the tool without documentation fails here.
# The man page is also rendered with warnings on (groff, or mandoc when
# it is installed), and each completion script is parsed by its shell.
#
# Usage: check_docs.sh TVKCRYPT TOOLS_SOURCE_DIR
set -uo pipefail
tool=$1
tools=$2
man_page=$tools/tvkcrypt/tvkcrypt.1
bash_completion=$tools/completions/tvkcrypt.bash
zsh_completion=$tools/completions/_tvkcrypt
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

help=$("$tool" --help) || { echo "FAIL: $tool --help exited with $?"; exit 1; }

# Options: every --long and -x / -xx that starts a word of the help text
# (quotes and brackets around them are allowed). Commands: the word after
# "tvkcrypt" on the usage lines.
options=$(printf '%s\n' "$help" |
    grep -oE "(^|[][ ,'(|])--?[A-Za-z][A-Za-z0-9-]*" |
    sed -E "s/^[][ ,'(|]//" | sort -u)
commands=$(printf '%s\n' "$help" |
    sed -nE 's/^(Usage:)? +tvkcrypt ([a-z]+).*/\2/p' | sort -u)
[ -n "$options" ] || fail "no options found in --help"
[ -n "$commands" ] || fail "no commands found in --help"

# The man page as plain words: font changes dropped, \- turned into -.
man_text=$(sed -E 's/\\f[BIRP]//g; s/\\-/-/g; s/\\&//g' "$man_page")

# What the bash completion offers: the commands, then the options after
# each command.
bash -n "$bash_completion" || fail "bash cannot parse $bash_completion"
offered=$(bash -c '
    source "$1"; shift
    complete_words() {
        COMP_WORDS=(tvkcrypt "$@"); COMP_CWORD=$#; _tvkcrypt; echo "${COMPREPLY[*]}"
    }
    complete_words ""
    for command in "$@"; do complete_words "$command" -; done
' _ "$bash_completion" $commands)

has_word() {  # has_word WORD TEXT: WORD stands alone in TEXT
    grep -qE -- "(^|[^A-Za-z0-9-])$1([^A-Za-z0-9-]|$)" <<<"$2"
}
for word in $options $commands; do
    has_word "$word" "$man_text" ||
        fail "'$word' is in --help but not in the man page $man_page"
    has_word "$word" "$offered" ||
        fail "'$word' is in --help but the bash completion does not offer it"
    has_word "$word" "$(cat "$zsh_completion")" ||
        fail "'$word' is in --help but not in the zsh completion $zsh_completion"
done
echo "checked $(wc -w <<<"$options") options and $(wc -w <<<"$commands") commands of --help"

# The page's header names the version the tool reports.
version=$("$tool" --version | awk '{ print $NF }')
grep -qE "^\.TH TVKCRYPT 1 .*\"tvkcrypto ${version//./\\.}\"" "$man_page" ||
    fail "the man page's .TH line does not name version $version"

# Rendering: warnings are failures.
if command -v mandoc >/dev/null; then
    out=$(mandoc -Tlint -W warning "$man_page" 2>&1) || fail "mandoc -Tlint: $out"
elif command -v groff >/dev/null; then
    out=$(groff -man -Tutf8 -ww -z "$man_page" 2>&1)
    [ -z "$out" ] || fail "groff warnings: $out"
else
    echo "SKIP: neither mandoc nor groff installed, the man page is not rendered"
fi

if command -v zsh >/dev/null; then
    zsh -n "$zsh_completion" || fail "zsh cannot parse $zsh_completion"
else
    echo "SKIP: zsh not installed, the zsh completion is not parsed"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures documentation check(s) failed"
    exit 1
fi
echo "man page and completions cover --help"
