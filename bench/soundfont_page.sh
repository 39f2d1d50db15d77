#!/usr/bin/env bash
# The page with a SoundFont (bench/soundfont_page_bench.mjs says what it measures): loading Debian's
# fluid-soundfont-gm (FluidR3_GM.sf2, 145 MB) through "Load SoundFont…" in Chromium and Firefox, and
# playing with it, the 20 MB benchmark file too. When that can't be installed, the 6 MB
# timgm6mb-soundfont instead, and said so. Then SoundFonts that claim more than they hold
# (bench/soundfont_page_hostile.mjs): each one's loading time and the memory it took.
#
#   bash bench/soundfont_page.sh [SOUNDFONT]       (from anywhere in the clone)
#
# Settings from the environment: ROUNDS (5). A browser that can't be installed is left out, and said so.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-5}

font="${1:-}"
if [ -z "$font" ]; then
  font=/usr/share/sounds/sf2/FluidR3_GM.sf2
  if [ ! -f "$font" ] && ! bash .ci/apt-install --try fluid-soundfont-gm; then
    font=/usr/share/sounds/sf2/TimGM6mb.sf2
    echo "soundfont page bench: fluid-soundfont-gm could not be installed: TimGM6mb (6 MB) instead"
    [ -f "$font" ] || bash .ci/apt-install --try timgm6mb-soundfont || true
  fi
fi
[ -f "$font" ] || { echo "soundfont page bench: no SoundFont to load ($font is not there); nothing measured"; exit 0; }

source bench/browsers.sh
bench_browsers "soundfont page bench"
echo "== building the 20 MB file's generator (Release) in build-bench/ and the page in build-web/"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
nice cmake --build build-bench -j2 --target make_big_smf >/dev/null
emcmake cmake -S . -B build-web >/dev/null
nice cmake --build build-web -j2 >/dev/null
(cd web/test && npm ci --no-audit --no-fund --loglevel=error)

out=bench/out
mkdir -p "$out"
big20="$out/soundfont-20.mid"
trap 'rm -f "$big20"' EXIT
build-bench/bench/make_big_smf "$big20" 20
SMFDUMP_BROWSERS=$(IFS=,; echo "${browsers[*]}") \
  node bench/soundfont_page_bench.mjs "$font" build-web "$rounds" "$big20" | tee "$out/soundfont-page-report.txt"
echo "== SoundFonts that claim more than they hold"
SMFDUMP_BROWSERS=$(IFS=,; echo "${browsers[*]}") \
  node bench/soundfont_page_hostile.mjs build-web | tee -a "$out/soundfont-page-report.txt"
