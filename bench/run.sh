#!/usr/bin/env bash
# Benchmark of smfdump at both ends: a collection of small files listed one run each, and one large
# file, against its peers midicsv and mftext, a plain copy of its output and a bare writer of as many
# bytes.
#
#   bash bench/run.sh            (from anywhere in the clone; installs what is missing with .ci/apt-install)
#
# Builds a Release smfdump, the generator and the bare writer in build-bench/, makes the test files in
# bench/out/ (ignored by git), then:
#   - collection: COLLECTION files of 2 to 200 KB (sizes spread evenly on a log scale, so most are
#     small), each listed by one run in a shell loop; the same loop with midicsv, with bare_writer
#     writing as many bytes as each listing, and with /bin/true as the floor that the loop itself
#     costs; CROUNDS rounds, their order rotated each round;
#   - large file: ROUNDS rounds of smfdump, midicsv, mftext, cat of smfdump's listing, and bare_writer
#     writing as many bytes as that listing through smfdump's buffer size into the same folder (their
#     order rotated each round);
#   - peak memory of smfdump on every file made here; callgrind's instructions per input byte on the
#     small file (independent of the machine's load).
# Prints medians, ratios and every target with "met" or "NOT met". The big files are deleted at the
# end; the printed report stays in bench/out/report.txt.
#
# Settings from the environment: ROUNDS (5), CROUNDS (9), COLLECTION (120 files), BIG_MB (50),
# MID_MB (10), SMALL_MB (2), KEEP_FILES=1 to keep the generated and output files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

rounds=${ROUNDS:-5}
crounds=${CROUNDS:-9}
collection_size=${COLLECTION:-120}
big_mb=${BIG_MB:-50}
mid_mb=${MID_MB:-10}
small_mb=${SMALL_MB:-2}
build="$root/build-bench"
out="$root/bench/out"

# --- tools -------------------------------------------------------------------------------------------
bash .ci/apt-install cmake make g++ midicsv abcmidi valgrind time  # through sudo when not root
for tool in midicsv mftext valgrind /usr/bin/time /bin/true; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool not found" >&2; exit 1; }
done

# --- build -------------------------------------------------------------------------------------------
echo "== building (Release) in build-bench/"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
nice cmake --build "$build" -j2 --target smfdump make_big_smf bare_writer >/dev/null
smfdump="$build/smfdump"
generator="$build/bench/make_big_smf"
writer="$build/bench/bare_writer"

# --- input files -------------------------------------------------------------------------------------
mkdir -p "$out"
cleanup() {
  if [ "${KEEP_FILES:-0}" != 1 ]; then
    rm -f "$out"/*.mid "$out"/*.csv "$out"/*.txt.out "$out"/default.txt "$out"/copy.txt "$out"/written.txt \
          "$out"/callgrind.out "$out"/callgrind.log "$out"/time.log "$out"/*.wall "$out"/*.rss "$out"/*.user \
          "$out"/generator.log
    rm -rf "$out/side" "$out/collection" "$out/loop"
  fi
}
trap cleanup EXIT

echo "== generating test files in bench/out/"
big="$out/big.mid"
mid="$out/mid.mid"
small="$out/small.mid"
"$generator" "$big" "$big_mb" 2>"$out/generator.log"
cat "$out/generator.log"
big_events=$(sed -n 's/.* bytes, \([0-9]*\) channel events.*/\1/p' "$out/generator.log")
"$generator" "$mid" "$mid_mb"
"$generator" "$small" "$small_mb"

# The collection: sizes from 2 to 200 KB, evenly spread on a log scale, in a fixed shuffled order.
collection="$out/collection"
rm -rf "$collection"
mkdir -p "$collection"
awk -v n="$collection_size" 'BEGIN {
  for (i = 0; i < n; i++) printf "%d %d\n", int(exp(log(2) + (log(200) - log(2)) * i / (n - 1)) + 0.5), (i * 37) % n
}' | while read -r kb seed; do
  "$generator" "$(printf '%s/song%03d.mid' "$collection" "$seed")" "${kb}K" "$((seed + 1))" 2>/dev/null
done
files=("$collection"/*.mid)
collection_bytes=$(cat "${files[@]}" | wc -c)

size_of() { stat -c %s "$1"; }
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { sort -g "$1" | tail -n 1; }
now() { date +%s%N; }
elapsed() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.4f\n", (e - s) / 1e9 }'; }
rm -f "$out"/*.wall "$out"/*.rss "$out"/*.user

# --- collection --------------------------------------------------------------------------------------
# The same loop for each tool: the file's name on standard input (smfdump asks for it; a here-string,
# as a pipe would fail when a tool exits without reading it), one run per file. The runs work in a
# folder of their own, where smfdump overwrites default.txt and midicsv its .csv.
loop="$out/loop"
mkdir -p "$loop"
# The bare writer writes, for each file, as many bytes as smfdump's listing of it: what writing the
# listings costs by itself.
listing_sizes=()
for f in "${files[@]}"; do
  (cd "$loop" && exec "$smfdump") <<<"$f" >/dev/null
  listing_sizes+=("$(stat -c %s "$loop/default.txt")")
done
run_collection() {
  local name=$1 start end f i
  start=$(now)
  case $name in
    smfdump) for f in "${files[@]}"; do (cd "$loop" && exec "$smfdump") <<<"$f" >/dev/null; done ;;
    midicsv) for f in "${files[@]}"; do (cd "$loop" && exec midicsv "$f" song.csv) <<<"$f" >/dev/null; done ;;
    writer)  for i in "${!files[@]}"; do (cd "$loop" && exec "$writer" listing.txt "${listing_sizes[i]}") <<<"${files[i]}" >/dev/null; done ;;
    true)    for f in "${files[@]}"; do (cd "$loop" && exec /bin/true) <<<"$f" >/dev/null; done ;;
  esac
  end=$(now)
  elapsed "$start" "$end" >>"$out/loop-$name.wall"
}
# Runs COUNT rounds of RUNNER over the named tools, each round starting one tool later than the last,
# so that no tool always runs first or after the same one.
rotated_rounds() {
  local count=$1 runner=$2 round i
  shift 2
  local names=("$@")
  for ((round = 0; round < count; round++)); do
    for ((i = 0; i < ${#names[@]}; i++)); do
      "$runner" "${names[(i + round) % ${#names[@]}]}"
    done
    printf '   round %d done\n' $((round + 1))
  done
}
loops=(smfdump midicsv writer true)
echo "== collection: ${#files[@]} files, $collection_bytes bytes; warm-up round (not counted)"
for tool in "${loops[@]}"; do run_collection "$tool"; done
rm -f "$out"/loop-*.wall
echo "== timing $crounds rounds over the collection"
rotated_rounds "$crounds" run_collection "${loops[@]}"

# --- large file --------------------------------------------------------------------------------------
# Runs one named command under /usr/bin/time -v; appends its wall time (seconds) to $out/<name>.wall,
# its user time to $out/<name>.user and its peak resident set (KB) to $out/<name>.rss.
time_log="$out/time.log"
listing_bytes=0
run_one() {
  local name=$1 start end
  start=$(now)
  case $name in
    smfdump) (cd "$out" && echo "$big" | /usr/bin/time -v -o "$time_log" "$smfdump" >/dev/null) ;;
    midicsv) /usr/bin/time -v -o "$time_log" midicsv "$big" "$out/big.csv" ;;
    mftext)  /usr/bin/time -v -o "$time_log" mftext "$big" >"$out/big.txt.out" ;;
    cat)     /usr/bin/time -v -o "$time_log" cat "$out/default.txt" >"$out/copy.txt" ;;
    writer)  /usr/bin/time -v -o "$time_log" "$writer" "$out/written.txt" "$listing_bytes" ;;
  esac
  end=$(now)
  elapsed "$start" "$end" >>"$out/$name.wall"
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$time_log" >>"$out/$name.rss"
  awk -F': ' '/User time \(seconds\)/ { print $2 }' "$time_log" >>"$out/$name.user"
}

tools=(smfdump midicsv mftext cat writer)
echo "== large file: warm-up round (not counted)"
run_one smfdump
listing_bytes=$(size_of "$out/default.txt")
for tool in "${tools[@]:1}"; do run_one "$tool"; done
rm -f "$out"/smfdump.* "$out"/midicsv.* "$out"/mftext.* "$out"/cat.* "$out"/writer.*

echo "== timing $rounds rounds on the ${big_mb} MB file"
rotated_rounds "$rounds" run_one "${tools[@]}"

# output sizes now, before anything else writes in bench/out/
declare -A outsize
outsize[smfdump]=$(size_of "$out/default.txt")
outsize[midicsv]=$(size_of "$out/big.csv")
outsize[mftext]=$(size_of "$out/big.txt.out")
outsize[cat]=$(size_of "$out/copy.txt")
outsize[writer]=$(size_of "$out/written.txt")

# --- peak memory -------------------------------------------------------------------------------------
# smfdump's peak memory on the middle-sized file (three runs), and on every file of the collection;
# these runs write their default.txt in a folder of their own
side="$out/side"
mkdir -p "$side"
for _ in 1 2 3; do
  (cd "$side" && echo "$mid" | /usr/bin/time -v -o "$time_log" "$smfdump" >/dev/null)
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$time_log" >>"$out/mid.rss"
done
for f in "$small" "${files[@]}"; do
  (cd "$side" && echo "$f" | /usr/bin/time -v -o "$time_log" "$smfdump" >/dev/null)
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$time_log" >>"$out/small.rss"
done

# --- callgrind ---------------------------------------------------------------------------------------
echo "== callgrind on the ${small_mb} MB file"
(cd "$side" && echo "$small" | nice valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$smfdump" \
  >/dev/null 2>"$out/callgrind.log")
ir=$(awk '/^(summary|totals):/ { print $2; exit }' "$out/callgrind.out")

# --- report ------------------------------------------------------------------------------------------
declare -A med rss user
for tool in "${tools[@]}"; do
  med[$tool]=$(median "$out/$tool.wall")
  rss[$tool]=$(maximum "$out/$tool.rss")
  user[$tool]=$(median "$out/$tool.user")
done
declare -A cmed
for tool in "${loops[@]}"; do cmed[$tool]=$(median "$out/loop-$tool.wall"); done
rss_mid=$(maximum "$out/mid.rss")
rss_small=$(maximum "$out/small.rss")
rss_big=${rss[smfdump]}
rss_any=$(printf '%s\n' "$rss_big" "$rss_mid" "$rss_small" | sort -g | tail -n 1)

{
  echo
  echo "smfdump benchmark  $(date -u '+%Y-%m-%d %H:%M UTC')  $(git rev-parse --short HEAD 2>/dev/null || echo '?')$(git diff --quiet HEAD -- src 2>/dev/null || echo ' +local changes in src')"
  echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $("$(awk -F= '/^CMAKE_CXX_COMPILER:/ { print $2 }' "$build/CMakeCache.txt")" --version | head -n 1)"
  echo "input: big.mid $(size_of "$big") bytes, $big_events channel events (sha256 $(sha256sum "$big" | cut -c1-16)); mid.mid $(size_of "$mid") bytes; small.mid $(size_of "$small") bytes"
  echo "collection: ${#files[@]} files of 2 to 200 KB, $collection_bytes bytes in all"
  echo "wall time: median of $rounds rounds (large file) and $crounds rounds (collection), order rotated; peak memory: largest maximum resident set size"
  echo
  printf '%-9s %12s %12s %16s %14s  %s\n' "large" "median (s)" "user (s)" "output (bytes)" "peak RSS (KB)" command
  printf '%-9s %12s %12s %16s %14s  %s\n' smfdump "${med[smfdump]}" "${user[smfdump]}" "${outsize[smfdump]}" "${rss[smfdump]}" "echo big.mid | smfdump  (default.txt)"
  printf '%-9s %12s %12s %16s %14s  %s\n' midicsv "${med[midicsv]}" "${user[midicsv]}" "${outsize[midicsv]}" "${rss[midicsv]}" "midicsv big.mid big.csv"
  printf '%-9s %12s %12s %16s %14s  %s\n' mftext "${med[mftext]}" "${user[mftext]}" "${outsize[mftext]}" "${rss[mftext]}" "mftext big.mid > big.txt"
  printf '%-9s %12s %12s %16s %14s  %s\n' cat "${med[cat]}" "${user[cat]}" "${outsize[cat]}" "${rss[cat]}" "cat default.txt > copy.txt"
  printf '%-9s %12s %12s %16s %14s  %s\n' writer "${med[writer]}" "${user[writer]}" "${outsize[writer]}" "${rss[writer]}" "bare_writer written.txt $listing_bytes"
  echo
  printf '%-9s %12s %14s  %s\n' "loop" "median (s)" "per file (ms)" "one run per file of the collection"
  for tool in "${loops[@]}"; do
    case $tool in
      smfdump) what='smfdump <<<FILE' ;;
      midicsv) what='midicsv FILE song.csv <<<FILE' ;;
      writer)  what='bare_writer listing.txt SIZE <<<FILE  (SIZE: that of its listing)' ;;
      true)    what='/bin/true <<<FILE  (the floor)' ;;
    esac
    printf '%-9s %12s %14.2f  %s\n' "$tool" "${cmed[$tool]}" "$(awk -v t="${cmed[$tool]}" -v n="${#files[@]}" 'BEGIN { print 1000 * t / n }')" "$what"
  done
  echo
  awk -v s="${med[smfdump]}" -v m="${med[midicsv]}" -v f="${med[mftext]}" -v c="${med[cat]}" -v w="${med[writer]}" \
      -v us="${user[smfdump]}" -v events="$big_events" \
      -v cs="${cmed[smfdump]}" -v cm="${cmed[midicsv]}" -v cw="${cmed[writer]}" -v ct="${cmed[true]}" \
      -v rb="$rss_big" -v rm="$rss_mid" -v rs="$rss_small" -v ra="$rss_any" -v mb="$big_mb" -v mm="$mid_mb" \
      -v ir="$ir" -v bytes="$(size_of "$small")" -v ms="$small_mb" '
    function verdict(ok) { return ok ? "met" : "NOT met" }
    BEGIN {
      printf "%-46s %10s   %-22s %s\n", "figure", "value", "target", ""
      above_s = cs - ct; above_m = cm - ct
      r = above_m > 0 ? above_s / above_m : 999
      printf "%-46s %10.3f   %-22s %s\n", "collection: smfdump / midicsv above the floor", r, "<= 0.3", verdict(r <= 0.3)
      printf "%-46s %10.3f   %-22s %s\n", "  (smfdump, midicsv above the floor, s)", above_s, sprintf("%.3f", above_m), ""
      above_w = cw - ct
      printf "%-46s %10.3f   %-22s %s\n", "  bare writer of the listings / midicsv, above", (above_m > 0 ? above_w / above_m : 999), "(for information)", ""
      printf "%-46s %10.3f   %-22s %s\n", "  smfdump / bare writer of its listings, above", (above_w > 0 ? above_s / above_w : 999), "(for information)", ""
      printf "%-46s %10.3f   %-22s %s\n", mb " MB file: smfdump / bare writer (time)", s / w, "<= 1.5", verdict(s / w <= 1.5)
      printf "%-46s %10.3f   %-22s %s\n", mb " MB file: smfdump / midicsv (time)", s / m, "<= 0.2", verdict(s / m <= 0.2)
      ns = events > 0 ? 1e9 * us / events : 0
      printf "%-46s %10.1f   %-22s %s\n", mb " MB file: smfdump user time per event (ns)", ns, "<= 15", verdict(events > 0 && ns <= 15)
      if (ir > 0)
        printf "%-46s %10.1f   %-22s %s\n", "callgrind instructions per input byte, " ms " MB", ir / bytes, "<= 50", verdict(ir / bytes <= 50)
      else
        printf "%-46s %10s   %-22s %s\n", "callgrind instructions per input byte", "none", "<= 50", "NOT met"
      printf "%-46s %10.1f   %-22s %s\n", "smfdump peak memory, any input (MB)", ra / 1024, "<= 4", verdict(ra <= 4 * 1024)
      printf "%-46s %10.1f   %-22s %s\n", "  " mb " MB file / " mm " MB file / small files (MB)", rb / 1024, sprintf("%.1f / %.1f", rm / 1024, rs / 1024), ""
      d = rb - rm
      printf "%-46s %10d   %-22s %s\n", "peak memory " mb " MB - " mm " MB (KB)", d, "same (within 256 KB)", verdict(d <= 256 && d >= -256)
      printf "%-46s %10.3f   %-22s %s\n", mb " MB file: smfdump / mftext (time)", s / f, "(for information)", ""
      printf "%-46s %10.3f   %-22s %s\n", mb " MB file: smfdump / cat of its listing (time)", s / c, "(for information)", ""
    }'
  echo
  echo "callgrind total Ir: ${ir:-?} over $(size_of "$small") input bytes (includes start-up and the names file)"
} | tee "$out/report.txt"
