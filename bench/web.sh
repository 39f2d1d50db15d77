#!/usr/bin/env bash
# The page's benchmark: the WebAssembly listing against the native program, under Node and in headless
# Chromium, the roll's redrawing and the page's size (bench/web_bench.mjs says what it measures).
#
#   bash bench/web.sh            (from anywhere in the clone; installs what is missing)
#
# Settings from the environment: ROUNDS (5), BIG_MB (50).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-5}
big_mb=${BIG_MB:-50}

bash .ci/apt-install cmake make g++ emscripten node-acorn chromium
echo "== building (Release) in build-bench/ and the page in build-web/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
nice cmake --build build-bench -j2 --target smfdump make_big_smf >/dev/null
emcmake cmake -S . -B build-web >/dev/null
nice cmake --build build-web -j2 >/dev/null
(cd web/test && npm ci --no-audit --no-fund --loglevel=error)

out=bench/out
mkdir -p "$out"
big="$out/web-big.mid"
build-bench/bench/make_big_smf "$big" "$big_mb"
trap 'rm -f "$big"' EXIT
node bench/web_bench.mjs "$big" build-bench/smfdump build-web "$rounds" | tee "$out/web-report.txt"
