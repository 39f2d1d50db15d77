#!/usr/bin/env bash
# Runs scripts/list_collection.sh on a small collection in nested folders, one name holding a space,
# and checks that every .mid file got its NAME.txt beside it, that a listing equals the default.txt a
# run in the file's own folder writes, and that nothing else is left behind.
# Usage: list_collection_test.sh <smfdump> <source folder> <make_big_smf>
set -euo pipefail

smfdump=$1
source=$(cd "$2" && pwd -P)
generator=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

root=$(mktemp -d "${TMPDIR:-/tmp}/smfdump-collection-XXXXXX")
trap 'rm -rf "$root"' EXIT
songs="$root/songs"
mkdir -p "$songs/rock/live sets" "$songs/jazz"
cp "$source/samples/demo.mid" "$songs/demo.mid"
"$generator" "$songs/rock/riff.mid" 3K 1 2>/dev/null
"$generator" "$songs/rock/live sets/encore two.mid" 6K 2 2>/dev/null
"$generator" "$songs/jazz/ballad.MID" 2K 3 2>/dev/null
echo "not a song" >"$songs/jazz/notes.txt.bak"

tmp="$root/tmp"  # the runs' own folders go here, so that the test can see they are gone
mkdir -p "$tmp"
TMPDIR=$tmp SMFDUMP=$smfdump bash "$source/scripts/list_collection.sh" "$songs" 3 >"$root/console" 2>&1 ||
  { cat "$root/console"; fail "list_collection.sh exited with status $?"; }

for listing in demo.txt rock/riff.txt "rock/live sets/encore two.txt" jazz/ballad.txt; do
  [ -f "$songs/$listing" ] || fail "no $listing beside its song: $(cd "$songs" && find . | sort)"
  tail -n 1 "$songs/$listing" | grep -q '^end of ' || fail "$listing is not a whole listing"
done

# Byte for byte what a run in the song's folder writes.
mkdir "$root/direct"
cp "$songs/rock/riff.mid" "$root/direct/"
(cd "$root/direct" && echo riff.mid | "$smfdump" >/dev/null)
cmp "$songs/rock/riff.txt" "$root/direct/default.txt" || fail "rock/riff.txt differs from a direct run's listing"
grep -q '^end of input\.mid$' "$songs/rock/live sets/encore two.txt" ||
  fail "the song whose name has a space was not listed under the name input.mid"

# Nothing else: no default.txt anywhere, no run folder left, the other file untouched.
leftover=$(find "$songs" "$tmp" -name default.txt -o -path "$tmp/*" | head -n 1)
[ -z "$leftover" ] || fail "left behind: $leftover"
[ "$(cat "$songs/jazz/notes.txt.bak")" = "not a song" ] || fail "a file that is no song was changed"
[ "$(find "$songs" -type f | wc -l)" -eq 9 ] || fail "unexpected files: $(cd "$songs" && find . -type f | sort)"

echo "list_collection.sh: 4 songs in nested folders listed beside their sources, as direct runs list them"
