#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the installed program as a user would: through the
# link in bin/, from a working folder of its own.
# Usage: install_test.sh <build folder> <source folder>
set -euo pipefail

build=$(cd "$1" && pwd -P)
source=$(cd "$2" && pwd -P)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

root=$(mktemp -d "${TMPDIR:-/tmp}/smfdump-install-XXXXXX")
trap 'rm -rf "$root"' EXIT
root=$(cd "$root" && pwd -P)
prefix=$root/prefix

cmake --install "$build" --prefix "$prefix" >"$root/install.log" || { cat "$root/install.log"; fail "cmake --install"; }

# The layout: the executable and the names file together, bin/smfdump a relative link to them.
[ -x "$prefix/lib/smfdump/smfdump" ] && [ ! -L "$prefix/lib/smfdump/smfdump" ] ||
  fail "lib/smfdump/smfdump is not an executable file"
cmp -s "$prefix/lib/smfdump/initial.txt" "$source/data/initial.txt" ||
  fail "lib/smfdump/initial.txt is not the General MIDI list of data/initial.txt"
# The Debian package's configuration file, its link and its documents are the package's alone.
[ ! -L "$prefix/lib/smfdump/initial.txt" ] || fail "lib/smfdump/initial.txt is a link in a plain installation"
[ ! -e "$prefix/share/doc" ] && [ ! -e "$prefix/share/lintian" ] ||
  fail "a plain installation holds the package's documents"
[ -L "$prefix/bin/smfdump" ] || fail "bin/smfdump is not a symbolic link"
link=$(readlink "$prefix/bin/smfdump")
[ "$link" = "../lib/smfdump/smfdump" ] || fail "bin/smfdump points to '$link', not ../lib/smfdump/smfdump"
man_pages=("$prefix"/share/man/man1/smfdump.1*)
[ -f "${man_pages[0]}" ] || fail "no manual page in share/man/man1"

# Runs the program at $1 in the working folder $2 with demo.mid typed at the prompt; the console
# output goes to $2.console.
run_in() {
  local program=$1 work=$2
  mkdir -p "$work"
  cp "$source/samples/demo.mid" "$work/demo.mid"
  local status=0
  (cd "$work" && echo demo.mid | "$program") >"$work.console" 2>&1 || status=$?
  [ "$status" -eq 0 ] || { cat "$work.console"; fail "$program exited with status $status"; }
}

# Started by its name through PATH, as after a real installation.
work=$root/work
(export PATH="$prefix/bin:$PATH" && run_in smfdump "$work")
first_line=$(head -n 1 "$work.console")
[ "$first_line" = "$prefix/lib/smfdump" ] ||
  fail "the program shows '$first_line' as its folder, not $prefix/lib/smfdump"
grep -qF 'input *.mid file:dump output file:default.txt' "$work.console" ||
  fail "no prompt and output-file line on the console: $(cat "$work.console")"
[ -f "$work/default.txt" ] || fail "default.txt was not written into the working folder"
for folder in "$prefix/bin" "$prefix/lib/smfdump"; do
  [ ! -e "$folder/default.txt" ] || fail "default.txt was written into $folder"
done
grep -qF '/Acoustic Grand Piano/' "$work/default.txt" ||
  fail "program 0 is listed without its name: $(grep -F 'pc:' "$work/default.txt")"

# The installed program lists the file exactly as the one in the build tree does.
run_in "$build/smfdump" "$root/work-build"
cmp -s "$work/default.txt" "$root/work-build/default.txt" ||
  fail "the installed program's listing differs from the build tree's: $(diff "$root/work-build/default.txt" "$work/default.txt")"
cmp -s <(tail -n +2 "$work.console") <(tail -n +2 "$root/work-build.console") ||
  fail "the installed program's dialogue differs from the build tree's"

# The names come from initial.txt beside the real executable, not from anywhere else.
printf '[Mine]\r\nMy Own Piano\r\n' >"$prefix/lib/smfdump/initial.txt"
rm -rf "$work"
run_in "$prefix/bin/smfdump" "$work"
grep -qF '/My Own Piano/' "$work/default.txt" ||
  fail "an edited lib/smfdump/initial.txt is not used: $(grep -F 'pc:' "$work/default.txt")"

# A staged installation (DESTDIR, as packagers use it) puts everything below the stage.
target=/opt/smfdump-install-test-$$
DESTDIR=$root/stage cmake --install "$build" --prefix "$target" >"$root/stage.log" ||
  { cat "$root/stage.log"; fail "cmake --install with DESTDIR"; }
[ ! -e "$target" ] || fail "the staged installation wrote into $target itself"
[ ! -e "$root/stage/etc" ] || fail "a plain installation wrote into /etc"
staged=$root/stage$target
[ -x "$staged/lib/smfdump/smfdump" ] && [ -f "$staged/lib/smfdump/initial.txt" ] ||
  fail "the staged installation lacks lib/smfdump/smfdump or initial.txt"
[ "$(readlink "$staged/bin/smfdump")" = "../lib/smfdump/smfdump" ] ||
  fail "the staged bin/smfdump is not the relative link"
run_in "$staged/bin/smfdump" "$root/work-stage"
[ "$(head -n 1 "$root/work-stage.console")" = "$staged/lib/smfdump" ] ||
  fail "the staged program shows '$(head -n 1 "$root/work-stage.console")' as its folder"
grep -qF '/Acoustic Grand Piano/' "$root/work-stage/default.txt" || fail "the staged program finds no names"

echo "installed layout, dialogue, names and listing as expected"
