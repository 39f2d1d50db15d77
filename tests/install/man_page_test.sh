#!/usr/bin/env bash
# Checks the manual page: groff finds nothing to warn about, it renders with its sections, its
# version is the project's, and the legend it quotes is the one the program writes.
# Usage: man_page_test.sh <manual page> <version> <program> <MIDI file>
# Exits 77 (skipped) where groff is missing.
set -euo pipefail

page=$1
version=$2
program=$(cd "$(dirname "$3")" && pwd -P)/$(basename "$3")
midi=$4

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if ! command -v groff >/dev/null; then
  echo "groff is missing: skipped"
  exit 77
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/smfdump-man-XXXXXX")
trap 'rm -rf "$root"' EXIT

# No warnings at all.
groff -ww -z -man "$page" 2>"$root/warnings" || fail "groff failed: $(cat "$root/warnings")"
[ ! -s "$root/warnings" ] || { cat "$root/warnings"; fail "groff warns about $page"; }

# Rendered, it has the sections a reader looks for.
groff -man -Tutf8 -P-cbou -rLL=100n -rHY=0 "$page" 2>/dev/null | sed 's/\xe2\x80\x90//g' >"$root/page.txt"
for section in NAME SYNOPSIS DESCRIPTION "THE LISTING" "THE NAMES FILE" "EXIT STATUS" FILES EXAMPLES; do
  grep -qx "$section" "$root/page.txt" || fail "no section $section in the rendered page"
done
grep -qE '^ +smfdump - list a Standard MIDI File as text$' "$root/page.txt" || fail "NAME line missing"

# The version in the page's title line is the project's.
title_version=$(sed -n 's/^\.TH SMFDUMP 1 "[^"]*" "smfdump \([^"]*\)".*/\1/p' "$page")
[ "$title_version" = "$version" ] || fail "the page says version '$title_version', the project $version"

# The legend quoted in the page is the program's own.
mkdir "$root/work"
cp "$midi" "$root/work/song.mid"
(cd "$root/work" && echo song.mid | "$program") >/dev/null 2>&1 || fail "$program failed"
legend=$(sed -n 3p "$root/work/default.txt")
case $legend in T..time*) ;; *) fail "the listing's third line is not the legend: '$legend'" ;; esac
grep -qF -- "$legend" "$root/page.txt" || fail "the page does not quote the legend '$legend'"

# man itself reads it, where man is installed.
if command -v man >/dev/null; then
  MANPAGER=cat MANWIDTH=100 man -l "$page" >"$root/man.txt" 2>"$root/man.err" ||
    fail "man -l failed: $(cat "$root/man.err")"
  grep -q 'SMFDUMP(1)' "$root/man.txt" || fail "man -l shows no SMFDUMP(1) title"
fi

echo "manual page clean and in step with the program"
