#!/usr/bin/env bash
# The page's sound with a SoundFont against FluidSynth's (bench/fidelity.mjs says what it compares):
# Debian's TimGM6mb (timgm6mb-soundfont) and FluidR3 (fluid-soundfont-gm, 145 MB), or the SoundFonts
# given, loaded in the page in Chromium and Firefox and in Debian's fluidsynth. The table goes to the
# screen and to bench/out/fidelity-report.txt; the WAV files, the MIDI files and the pictures (PNG) to
# bench/out/.
#
#   bash bench/fidelity.sh [SOUNDFONT...]       (from anywhere in the clone)
#
# A SoundFont or a browser that can't be installed is left out, and said so; without fluidsynth
# nothing is compared.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! bash .ci/apt-install --try fluidsynth; then
  echo "fidelity: fluidsynth could not be installed: nothing compared"
  exit 0
fi
fonts=("$@")
if [ ${#fonts[@]} -eq 0 ]; then
  for pair in timgm6mb-soundfont:/usr/share/sounds/sf2/TimGM6mb.sf2 fluid-soundfont-gm:/usr/share/sounds/sf2/FluidR3_GM.sf2; do
    package=${pair%%:*} font=${pair#*:}
    if [ -f "$font" ] || bash .ci/apt-install --try "$package"; then
      fonts+=("$font")
    else
      echo "fidelity: $package could not be installed: left out"
    fi
  done
fi
[ ${#fonts[@]} -gt 0 ] || { echo "fidelity: no SoundFont to compare with"; exit 0; }

source bench/browsers.sh
bench_browsers "fidelity"
echo "== building the page in build-web/"
emcmake cmake -S . -B build-web >/dev/null
nice cmake --build build-web -j2 >/dev/null
(cd web/test && npm ci --no-audit --no-fund --loglevel=error)

out=bench/out
mkdir -p "$out"
SMFDUMP_BROWSERS=$(IFS=,; echo "${browsers[*]}") \
  nice node bench/fidelity.mjs build-web "$out" "${fonts[@]}" | tee "$out/fidelity-report.txt"
