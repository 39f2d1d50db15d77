#!/usr/bin/env bash
# Lists every .mid file under a folder with smfdump, several runs at a time, and puts each listing
# beside its source as NAME.txt (x/y/song.mid gets x/y/song.txt).
#
#   scripts/list_collection.sh FOLDER [JOBS]    JOBS runs at a time (default: the number of cores)
#   scripts/list_collection.sh --one FILE       lists one file (what each of those runs does)
#
# SMFDUMP names the program (default: smfdump on the PATH). smfdump always writes default.txt in the
# folder it runs in, so each run works in a temporary folder of its own, where a link to the file
# stands under the file's own name: the listing is the one a run in the file's folder would write.
# A name smfdump can't take as typed (white space, more than 99 characters) is linked as input.mid.
# Exits non-zero when a file could not be listed; the others are listed all the same.
set -euo pipefail

# Lists the file $1 into ${1%.*}.txt.
list_one() {
  local file=$1 work name status=0
  work=$(mktemp -d "${TMPDIR:-/tmp}/smfdump-XXXXXX")
  name=$(basename "$file")
  if [[ $name =~ [[:space:]] || ${#name} -gt 99 ]]; then name=input.mid; fi
  ln -s "$(realpath "$file")" "$work/$name"
  if (cd "$work" && printf '%s\n' "$name" | "${SMFDUMP:-smfdump}" >"$work/console" 2>&1) && [ -f "$work/default.txt" ]; then
    mv "$work/default.txt" "${file%.*}.txt"
  else
    echo "list_collection.sh: $file not listed: $(tail -n 1 "$work/console")" >&2
    status=1
  fi
  rm -rf "$work"
  return $status
}

if [ "${1:-}" = --one ] && [ $# -eq 2 ]; then
  list_one "$2"
  exit
fi
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1" ]; then
  echo "usage: list_collection.sh FOLDER [JOBS]  |  list_collection.sh --one FILE" >&2
  exit 2
fi
find "$1" -type f -iname '*.mid' -print0 | xargs -0 -r -n 1 -P "${2:-$(nproc)}" bash "$0" --one
