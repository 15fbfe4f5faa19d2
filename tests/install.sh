#!/bin/bash
# The installed tree used as a user would: installed into a temporary DESTDIR,
# rire-host runs a bundled two-process transcript by its absolute path from
# another directory, with no --plugin and no LD_LIBRARY_PATH, so it must find
# its emulator library and plugin relative to itself; the man page and the
# bash completion name every verb `help all` and every option --help lists; the contract headers compile.
# usage: install.sh BUILD_DIR [LAUNCHER...]
set -euo pipefail
build=$1
shift
launcher=("$@")
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
# Stripped as the package is.
DESTDIR=$dest cmake --install "$build" --prefix /usr --strip >/dev/null
usr=$dest/usr
host=$usr/bin/rire-host
fail() { echo "install: $*" >&2; exit 1; }

readelf -d "$host" >"$dest/dynamic.txt"
grep -q 'R.*PATH.*\[\$ORIGIN/\.\./lib/i386-linux-gnu/rire-host\]' "$dest/dynamic.txt" ||
    fail "rire-host does not find its libraries relative to itself"
grep -qF "$build" "$dest/dynamic.txt" && fail "rire-host still names the build tree"

cd "$dest"
unset LD_LIBRARY_PATH
RIRE_LAUNCHER="${launcher[*]}" "${launcher[@]}" "$host" --check "$usr/share/rire-host/scenarios/held-di.t" ||
    fail "the installed rire-host fails the bundled held-di.t"
[[ $("${launcher[@]}" "$host" --version) =~ ^rire-host\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no version"

man=$usr/share/man/man1/rire-host.1.gz
completion=$usr/share/bash-completion/completions/rire-host
[[ -s $man && -s $completion ]] || fail "no man page or no completion"
bash -n "$completion" || fail "the completion is not bash"
# The verbs as `help all` lists them: the lines that start with two blanks
# and a letter; a verb's name is its words before the first argument.
verbs=$("${launcher[@]}" "$host" help all | grep '^  [a-z]' |
    awk '{ name = $1; if ($2 ~ /^[a-z][a-z.-]*$/) name = name " " $2; print name }' | sort -u)
[[ $(wc -l <<<"$verbs") -gt 40 ]] || fail "help all lists too few verbs"
gzip -dc "$man" | sed 's/\\-/-/g' >"$dest/man.txt"
while read -r verb; do
    grep -qF ".B $verb" "$dest/man.txt" || fail "the man page lacks '$verb'"
    for word in $verb; do
        grep -qw -- "$word" "$completion" || fail "the completion lacks '$word'"
    done
done <<<"$verbs"

options=$("${launcher[@]}" "$host" --help | sed -n '/^  -/p' |
    awk '{ for (i = 1; i <= NF && $i ~ /^-/; i++) { sub(/,$/, "", $i); print $i } }')
for option in $options; do
    grep -qF -- "$option" "$dest/man.txt" || fail "the man page lacks $option"
    grep -qw -- "$option" "$completion" || fail "the completion lacks $option"
done

echo '#include "plugin/include/rire_orsk_platform_api.h"' |
    c++ -m32 -std=c++20 -fsyntax-only -x c++ -I "$usr/include/rire-host" - ||
    fail "the installed contract headers do not compile"
echo "install: ok"
