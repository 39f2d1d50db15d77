#!/usr/bin/env bash
# Benchmark of smfdump against its peers midicsv and mftext, and against a plain copy of its own output.
#
#   bash bench/run.sh            (from anywhere in the clone; installs what is missing with apt-get)
#
# Builds a Release smfdump and the generator in build-bench/, makes large test files in bench/out/
# (ignored by git), times ROUNDS rounds of the four commands (their order rotated each round), prints
# the medians, output sizes, ratios and peak memory next to the targets, then counts smfdump's
# instructions per input byte under callgrind. The big files are deleted at the end; the printed
# report stays in bench/out/report.txt.
#
# Settings from the environment: ROUNDS (5), BIG_MB (50), MID_MB (10), SMALL_MB (2), KEEP_FILES=1 to
# keep the generated and output files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

rounds=${ROUNDS:-5}
big_mb=${BIG_MB:-50}
mid_mb=${MID_MB:-10}
small_mb=${SMALL_MB:-2}
build="$root/build-bench"
out="$root/bench/out"

# --- tools -------------------------------------------------------------------------------------------
export DEBIAN_FRONTEND=noninteractive
missing=()
for package in cmake make g++ midicsv abcmidi valgrind time; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
for tool in midicsv mftext valgrind /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool not found" >&2; exit 1; }
done

# --- build -------------------------------------------------------------------------------------------
echo "== building (Release) in build-bench/"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target smfdump make_big_smf >/dev/null
smfdump="$build/smfdump"
generator="$build/bench/make_big_smf"

# --- input files -------------------------------------------------------------------------------------
mkdir -p "$out"
cleanup() {
  if [ "${KEEP_FILES:-0}" != 1 ]; then
    rm -f "$out"/*.mid "$out"/*.csv "$out"/*.txt.out "$out"/default.txt "$out"/copy.txt "$out"/callgrind.out \
          "$out"/callgrind.log "$out"/time.log "$out"/*.wall "$out"/*.rss
    rm -rf "$out/side"
  fi
}
trap cleanup EXIT

echo "== generating test files in bench/out/"
big="$out/big.mid"
mid="$out/mid.mid"
small="$out/small.mid"
"$generator" "$big" "$big_mb"
"$generator" "$mid" "$mid_mb"
"$generator" "$small" "$small_mb"

size_of() { stat -c %s "$1"; }

# --- timing ------------------------------------------------------------------------------------------
# Runs one named command under /usr/bin/time -v; appends its wall time (seconds) to $out/<name>.wall
# and its peak resident set (KB) to $out/<name>.rss.
time_log="$out/time.log"
run_one() {
  local name=$1 start end
  start=$(date +%s%N)
  case $name in
    smfdump) (cd "$out" && echo "$big" | /usr/bin/time -v -o "$time_log" "$smfdump" >/dev/null) ;;
    midicsv) /usr/bin/time -v -o "$time_log" midicsv "$big" "$out/big.csv" ;;
    mftext)  /usr/bin/time -v -o "$time_log" mftext "$big" >"$out/big.txt.out" ;;
    cat)     /usr/bin/time -v -o "$time_log" cat "$out/default.txt" >"$out/copy.txt" ;;
  esac
  end=$(date +%s%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", (e - s) / 1e9 }' >>"$out/$name.wall"
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$time_log" >>"$out/$name.rss"
}

tools=(smfdump midicsv mftext cat)
rm -f "$out"/*.wall "$out"/*.rss
echo "== warm-up round (not counted)"
for tool in "${tools[@]}"; do run_one "$tool"; done
rm -f "$out"/*.wall "$out"/*.rss

echo "== timing $rounds rounds on the ${big_mb} MB file"
for ((round = 0; round < rounds; round++)); do
  for ((i = 0; i < ${#tools[@]}; i++)); do
    run_one "${tools[(i + round) % ${#tools[@]}]}"
  done
  printf '   round %d done\n' $((round + 1))
done

# output sizes now, before anything else writes in bench/out/
declare -A outsize
outsize[smfdump]=$(size_of "$out/default.txt")
outsize[midicsv]=$(size_of "$out/big.csv")
outsize[mftext]=$(size_of "$out/big.txt.out")
outsize[cat]=$(size_of "$out/copy.txt")

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { sort -g "$1" | tail -n 1; }

# smfdump's peak memory on the middle-sized file, for the comparison with the big one; this run and
# the callgrind one write their default.txt in a folder of their own
side="$out/side"
mkdir -p "$side"
rm -f "$out/mid.rss"
for _ in 1 2 3; do
  (cd "$side" && echo "$mid" | /usr/bin/time -v -o "$time_log" "$smfdump" >/dev/null)
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$time_log" >>"$out/mid.rss"
done

# --- callgrind ---------------------------------------------------------------------------------------
echo "== callgrind on the ${small_mb} MB file"
(cd "$side" && echo "$small" | valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$smfdump" \
  >/dev/null 2>"$out/callgrind.log")
ir=$(awk '/^(summary|totals):/ { print $2; exit }' "$out/callgrind.out")

# --- report ------------------------------------------------------------------------------------------
declare -A med rss
for tool in "${tools[@]}"; do
  med[$tool]=$(median "$out/$tool.wall")
  rss[$tool]=$(maximum "$out/$tool.rss")
done
rss_mid=$(maximum "$out/mid.rss")
rss_big=${rss[smfdump]}

{
  echo
  echo "smfdump benchmark  $(date -u '+%Y-%m-%d %H:%M UTC')  $(git rev-parse --short HEAD 2>/dev/null || echo '?')$(git diff --quiet HEAD -- src 2>/dev/null || echo ' +local changes in src')"
  echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $("$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt")" --version | head -n 1)"
  echo "input: big.mid $(size_of "$big") bytes (sha256 $(sha256sum "$big" | cut -c1-16)), mid.mid $(size_of "$mid") bytes, small.mid $(size_of "$small") bytes"
  echo "wall time: median of $rounds rounds; peak memory: largest maximum resident set size of the rounds"
  echo
  printf '%-9s %12s %16s %14s  %s\n' tool "median (s)" "output (bytes)" "peak RSS (KB)" command
  printf '%-9s %12s %16s %14s  %s\n' smfdump "${med[smfdump]}" "${outsize[smfdump]}" "${rss[smfdump]}" "echo big.mid | smfdump  (default.txt)"
  printf '%-9s %12s %16s %14s  %s\n' midicsv "${med[midicsv]}" "${outsize[midicsv]}" "${rss[midicsv]}" "midicsv big.mid big.csv"
  printf '%-9s %12s %16s %14s  %s\n' mftext "${med[mftext]}" "${outsize[mftext]}" "${rss[mftext]}" "mftext big.mid > big.txt"
  printf '%-9s %12s %16s %14s  %s\n' cat "${med[cat]}" "${outsize[cat]}" "${rss[cat]}" "cat default.txt > copy.txt"
  echo
  awk -v s="${med[smfdump]}" -v m="${med[midicsv]}" -v f="${med[mftext]}" -v c="${med[cat]}" \
      -v rb="$rss_big" -v rm="$rss_mid" -v mb="$big_mb" -v mm="$mid_mb" \
      -v ir="$ir" -v bytes="$(size_of "$small")" -v ms="$small_mb" '
    function verdict(ok) { return ok ? "met" : "NOT met" }
    BEGIN {
      printf "%-34s %10s   %-22s %s\n", "figure", "value", "target", ""
      printf "%-34s %10.3f   %-22s %s\n", "smfdump / midicsv (time)", s / m, "<= 0.4", verdict(s / m <= 0.4)
      printf "%-34s %10.3f   %-22s %s\n", "smfdump / mftext (time)", s / f, "(for information)", ""
      printf "%-34s %10.3f   %-22s %s\n", "smfdump / cat (time)", s / c, "<= 2", verdict(s / c <= 2)
      printf "%-34s %10.1f   %-22s %s\n", "smfdump peak memory, " mb " MB (MB)", rb / 1024, "< 8", verdict(rb < 8 * 1024)
      printf "%-34s %10.1f   %-22s %s\n", "smfdump peak memory, " mm " MB (MB)", rm / 1024, "< 8", verdict(rm < 8 * 1024)
      d = rb - rm
      printf "%-34s %10d   %-22s %s\n", "peak memory " mb " MB - " mm " MB (KB)", d, "same (within 256 KB)", verdict(d <= 256 && d >= -256)
      if (ir > 0)
        printf "%-34s %10.1f   %-22s %s\n", "instructions per input byte", ir / bytes, "(callgrind, " ms " MB file)", ""
      else
        printf "%-34s %10s\n", "instructions per input byte", "no callgrind total"
    }'
  echo
  echo "callgrind total Ir: ${ir:-?} over $(size_of "$small") input bytes (includes start-up and the names file)"
} | tee "$out/report.txt"
