#!/usr/bin/env bash
# Usage: fuzz/run.sh SECONDS [TARGET...]
# Installs what is missing (through .ci/apt-install), builds the fuzz targets with clang++ in
# build-fuzz/, writes the seed corpus, copies the kept corpus (fuzz/corpus/, what earlier campaigns
# found interesting) into the working corpus in build-fuzz/corpus/, and runs the targets one after the
# other: the listing and the page's entry points (seeded with the listing corpus too) for a third of
# SECONDS each, the names file loader and the SoundFont reader for a sixth each; or only the TARGETs
# named (listing, web, names, soundfont), sharing SECONDS evenly. libFuzzer adds to the working copy
# only; fuzz/corpus/ is not written.
# Exits non-zero when any finds anything (crash, sanitizer report, broken bound, hang, memory);
# the input that did it is kept in build-fuzz/findings/. Prints the number of inputs each one ran.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 6 ]; then
  echo "usage: fuzz/run.sh SECONDS (at least 6) [listing|web|names|soundfont...]" >&2
  exit 2
fi
shift
targets=("$@")
for name in "${targets[@]}"; do
  case $name in listing|web|names|soundfont) ;; *) echo "fuzz/run.sh: no target named $name" >&2; exit 2 ;; esac
done

# The build tools, and clang++ with its fuzzing runtime unless CXX names a compiler of your own.
packages=(cmake make)
[ -n "${CXX:-}" ] || packages+=(clang libclang-rt-14-dev)
bash .ci/apt-install "${packages[@]}"

build=build-fuzz
CXX="${CXX:-clang++}" cmake -S . -B "$build" -DSMFDUMP_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target smfdump_fuzz_listing smfdump_fuzz_web smfdump_fuzz_names smfdump_fuzz_soundfont \
  smfdump_make_seeds

rm -rf "$build/seeds"
"$build/fuzz/smfdump_make_seeds" "$build/seeds"
mkdir -p "$build/corpus/listing" "$build/corpus/web" "$build/corpus/names" "$build/corpus/soundfont" "$build/findings"
for name in listing web names soundfont; do
  if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$build/corpus/$name/"; fi
done

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
total=0

# Runs one target for the given seconds over its corpus and seeds; adds its run count to the total.
run_target() {
  local name="$1" time="$2"
  local log="$build/fuzz-$name.log"
  local more_seeds=()
  [ "$name" != web ] || more_seeds=("$build/corpus/listing")  # the page's target starts from the listing's corpus too
  echo "== fuzzing $name for ${time}s"
  local status=0
  # -max_len: inputs up to 4 KiB; -timeout: an input listed for 10 s counts as a hang
  "$build/fuzz/smfdump_fuzz_$name" -max_total_time="$time" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$name-" \
    "$build/corpus/$name" "$build/seeds/$name" "${more_seeds[@]}" >"$log" 2>&1 || status=$?
  local runs rate
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ] || [ -z "$runs" ]; then
    echo "!! $name: libFuzzer exited with status $status; the end of $log:"
    tail -n 60 "$log"
    failed=1
  fi
  echo "$name: ${runs:-0} runs (${rate:-0} a second)"
  total=$(( total + ${runs:-0} ))
}

if [ ${#targets[@]} -eq 0 ]; then
  run_target listing $(( seconds / 3 ))
  run_target web $(( seconds / 3 ))
  run_target names $(( seconds / 6 ))
  run_target soundfont $(( seconds - 2 * (seconds / 3) - seconds / 6 ))
else
  for name in "${targets[@]}"; do run_target "$name" $(( seconds / ${#targets[@]} )); done
fi
echo "total: $total runs"
if [ "$failed" -ne 0 ]; then
  echo "fuzzing found a fault; inputs kept in $build/findings/" >&2
  exit 1
fi
