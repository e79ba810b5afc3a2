#!/bin/sh
# Runs Debian's shellcheck, at severity warning, over every shell script of the
# source tree: each *.sh, and each other file whose first line starts sh or
# bash. Build folders and .git are left out. Any finding fails; a finding that
# is meant is disabled on its line, with the reason beside it.
#
# Usage: check-shell.sh [SOURCE_DIR]
set -eu

root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"
list=$(mktemp "${TMPDIR:-/tmp}/velmora-shell-XXXXXX")
trap 'rm -f "$list"' EXIT
find . -type d \( -name .git -o -name build -o -name 'build-*' \) -prune -o -type f -print | LC_ALL=C sort | while read -r file; do
    case $file in
    *.sh) echo "$file" ;;
    *) head -n 1 "$file" 2>/dev/null | grep -q -E '^#! *(/usr)?/bin/(env +)?(ba)?sh( |$)' && echo "$file" ;;
    esac
done >"$list" || true
[ -s "$list" ] || { echo "check-shell.sh: no shell script found under $root" >&2; exit 1; }
# One script a line, none with a blank in its name.
# shellcheck disable=SC2046 # the list is split into one argument a script, as meant
shellcheck -S warning $(cat "$list")
echo "ok: shellcheck finds nothing in $(wc -l <"$list") scripts"
