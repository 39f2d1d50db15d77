#!/usr/bin/env bash
# Builds the Debian package into a fresh folder, checks its control fields and contents, unpacks it
# and runs the program from the unpacked tree.
# Usage: package_test.sh <build folder> <source folder> <version>
# Exits 77 (skipped) where dpkg-deb is missing.
set -euo pipefail

build=$(cd "$1" && pwd -P)
source=$(cd "$2" && pwd -P)
version=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if ! command -v dpkg-deb >/dev/null; then
  echo "dpkg-deb is missing: skipped"
  exit 77
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/smfdump-package-XXXXXX")
trap 'rm -rf "$root"' EXIT
root=$(cd "$root" && pwd -P)

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$root/out" >"$root/cpack.log" 2>&1 ||
  { cat "$root/cpack.log"; fail "cpack -G DEB"; }
packages=("$root"/out/*.deb)
[ ${#packages[@]} -eq 1 ] && [ -f "${packages[0]}" ] || fail "cpack made no single .deb: $(ls "$root/out")"
deb=${packages[0]}
[ "$(basename "$deb")" = "smfdump_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "unexpected package file name $(basename "$deb")"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = smfdump ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(field Description | wc -l)" -gt 1 ] || fail "no long description"
# Only the C and C++ runtime libraries, nothing else.
depends=$(field Depends)
names=$(echo "$depends" | tr ',' '\n' | sed 's/(.*)//; s/[[:space:]]//g' | sed '/^$/d' | sort -u)
for name in $names; do
  case $name in
    libc6 | libstdc++6 | libgcc-s1) ;;
    *) fail "unexpected dependency $name in '$depends'" ;;
  esac
done
grep -qx libc6 <<<"$names" || fail "Depends '$depends' lacks libc6"
# The C++ runtime is named exactly when the program loads it: a program linked with its own copy
# must not pull the shared library in, and one that loads it must declare it.
if objdump -p "$build/smfdump" 2>/dev/null | grep -q 'NEEDED.*libstdc++'; then
  grep -qx 'libstdc++6' <<<"$names" || fail "the program loads libstdc++ but Depends '$depends' lacks libstdc++6"
else
  ! grep -qx 'libstdc++6' <<<"$names" || fail "Depends '$depends' names libstdc++6, which the program does not load"
fi

# Contents.
dpkg-deb -c "$deb" >"$root/contents"
has() { grep -qE "$1" "$root/contents" || { cat "$root/contents"; fail "the package lacks $2"; }; }
has '^-rwxr-xr-x root/root .* \./usr/lib/smfdump/smfdump$' "an executable /usr/lib/smfdump/smfdump"
has '^-rw-r--r-- root/root .* \./etc/smfdump/initial\.txt$' "the names file /etc/smfdump/initial.txt"
has '^l.* \./usr/lib/smfdump/initial\.txt -> /etc/smfdump/initial\.txt$' \
  "the link /usr/lib/smfdump/initial.txt -> /etc/smfdump/initial.txt"
has '^l.* \./usr/bin/smfdump -> \.\./lib/smfdump/smfdump$' "the link /usr/bin/smfdump -> ../lib/smfdump/smfdump"
has '^-rw-r--r-- root/root .* \./usr/share/man/man1/smfdump\.1(\.gz)?$' "the manual page"
has '^-rw-r--r-- root/root .* \./usr/share/doc/smfdump/copyright$' "the copyright file"
has '^-rw-r--r-- root/root .* \./usr/share/doc/smfdump/changelog\.gz$' "the changelog"
# Nothing else: every file (not folder) in it is one of those, or the lintian overrides.
awk '{print $6}' "$root/contents" | grep -v '/$' | while read -r path; do
  case $path in
    ./usr/bin/smfdump | ./usr/lib/smfdump/smfdump | ./usr/lib/smfdump/initial.txt | ./etc/smfdump/initial.txt) ;;
    ./usr/share/man/man1/smfdump.1 | ./usr/share/man/man1/smfdump.1.gz) ;;
    ./usr/share/doc/smfdump/copyright | ./usr/share/doc/smfdump/changelog.gz) ;;
    ./usr/share/lintian/overrides/smfdump) ;;
    *) fail "the package holds the unexpected file $path" ;;
  esac
done
# Every folder and file belongs to root, and no folder is writable by others than root.
awk '$2 != "root/root" {print}' "$root/contents" | grep . && fail "files not owned by root/root"
awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" {print}' "$root/contents" | grep . && fail "folders not drwxr-xr-x"

# The names file is a configuration file (so dpkg keeps a user's edits), and the only one.
dpkg-deb -e "$deb" "$root/control"
[ "$(cat "$root/control/conffiles")" = /etc/smfdump/initial.txt ] ||
  fail "conffiles is '$(cat "$root/control/conffiles" 2>/dev/null)', not /etc/smfdump/initial.txt"

# The copyright file is machine-readable, under the licence of LICENSE; the changelog's latest entry
# is this version's.
dpkg-deb -x "$deb" "$root/tree"
doc=$root/tree/usr/share/doc/smfdump
head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not machine-readable: $(head -n 1 "$doc/copyright")"
grep -qx 'Copyright: 2026 the smfdump authors' "$doc/copyright" || fail "the copyright file names no holder"
grep -qF 'Permission is hereby granted' "$doc/copyright" || fail "the copyright file lacks the licence text"
entry=$(gzip -dc "$doc/changelog.gz" | head -n 1)
[[ $entry == "smfdump ($version) "* ]] || fail "the changelog's latest entry is '$entry', not version $version"

# Unpacked, the program runs through its link and finds the names. The package's link points to the
# installed /etc; here it is pointed to the unpacked one.
cmp -s "$root/tree/etc/smfdump/initial.txt" "$source/data/initial.txt" ||
  fail "the packaged initial.txt is not data/initial.txt"
ln -sfn ../../../etc/smfdump/initial.txt "$root/tree/usr/lib/smfdump/initial.txt"
mkdir "$root/work"
cp "$source/samples/demo.mid" "$root/work/"
status=0
(cd "$root/work" && echo demo.mid | "$root/tree/usr/bin/smfdump") >"$root/console" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$root/console"; fail "the unpacked program exited with status $status"; }
[ "$(head -n 1 "$root/console")" = "$root/tree/usr/lib/smfdump" ] ||
  fail "the unpacked program shows '$(head -n 1 "$root/console")' as its folder"
grep -qF '/Acoustic Grand Piano/' "$root/work/default.txt" ||
  fail "the unpacked program finds no program names: $(grep -F 'pc:' "$root/work/default.txt")"

echo "package $(basename "$deb"): fields, contents and unpacked program as expected"
