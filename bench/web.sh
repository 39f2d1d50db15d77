#!/usr/bin/env bash
# The page's benchmark: the WebAssembly listing against the native program, under Node and in headless
# Chromium and Firefox side by side, the roll's redrawing and the page's size (bench/web_bench.mjs says
# what it measures); then the page with a SoundFont (bench/soundfont_page.sh).
#
#   bash bench/web.sh            (from anywhere in the clone; installs what is missing)
#
# Settings from the environment: ROUNDS (5), BIG_MB (50), SMALL_MB (5). A browser that can't be
# installed is left out, and said so.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-5}
big_mb=${BIG_MB:-50}
small_mb=${SMALL_MB:-5}

source bench/browsers.sh
bench_browsers "web bench"
echo "== building (Release) in build-bench/ and the page in build-web/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
nice cmake --build build-bench -j2 --target smfdump make_big_smf >/dev/null
emcmake cmake -S . -B build-web >/dev/null
nice cmake --build build-web -j2 >/dev/null
(cd web/test && npm ci --no-audit --no-fund --loglevel=error)

out=bench/out
mkdir -p "$out"
big="$out/web-big.mid"
small="$out/web-small.mid"
trap 'rm -f "$big" "$small"' EXIT
build-bench/bench/make_big_smf "$big" "$big_mb"
build-bench/bench/make_big_smf "$small" "$small_mb"
SMFDUMP_BROWSERS=$(IFS=,; echo "${browsers[*]}") \
  node bench/web_bench.mjs "$big" "$small" build-bench/smfdump build-web "$rounds" | tee "$out/web-report.txt"

echo "== the player"
ROUNDS="$rounds" bash bench/play.sh
echo "== the page with a SoundFont"
ROUNDS="$rounds" bash bench/soundfont_page.sh
