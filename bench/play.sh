#!/usr/bin/env bash
# The player's benchmark (bench/play_bench.mjs says what it measures): what playing keeps against the
# roll's notes, the sequencer's start anywhere in a large file, and in the browsers the page's size,
# a 20 MB file played in real time, seeking in a 50 MB file and Save as WAV of three minutes.
#
#   bash bench/play.sh           (from anywhere in the clone; bench/web.sh runs it too)
#
# Settings from the environment: ROUNDS (5). A browser that can't be installed is left out, and said so.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-5}

source bench/browsers.sh
bench_browsers "play bench"
if [ ! -x build-bench/bench/make_big_smf ] || [ ! -f build-web/smfdump.html ]; then
  echo "== building (Release) in build-bench/ and the page in build-web/"
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  nice cmake --build build-bench -j2 --target make_big_smf >/dev/null
  emcmake cmake -S . -B build-web >/dev/null
  nice cmake --build build-web -j2 >/dev/null
fi
(cd web/test && npm ci --no-audit --no-fund --loglevel=error)

out=bench/out
mkdir -p "$out"
big20="$out/play-20.mid"
big50="$out/play-50.mid"
trap 'rm -f "$big20" "$big50"' EXIT
build-bench/bench/make_big_smf "$big20" 20
build-bench/bench/make_big_smf "$big50" 50
SMFDUMP_BROWSERS=$(IFS=,; echo "${browsers[*]}") \
  node bench/play_bench.mjs "$big20" "$big50" build-web "$rounds" | tee "$out/play-report.txt"
