#!/usr/bin/env bash
# The SoundFont reader on Debian's fluid-soundfont-gm (FluidR3_GM.sf2, 145 MB), natively: the time to
# load the file into memory, the median time of reading it (ROUNDS reads, 9 unless set), the peak
# memory of the process (the file's own bytes included), and what was read.
#
#   bash bench/soundfont.sh [SOUNDFONT]        (from anywhere in the clone)
#
# Installs fluid-soundfont-gm when no SOUNDFONT is given (through .ci/apt-install); when it can't be
# had, says so in one line and ends without failing. Builds soundfont_bench (Release) in build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."

font="${1:-/usr/share/sounds/sf2/FluidR3_GM.sf2}"
if [ $# -eq 0 ] && [ ! -f "$font" ]; then
  bash .ci/apt-install --try fluid-soundfont-gm || true
fi
if [ ! -f "$font" ]; then
  echo "soundfont.sh: $font is not there (Debian: fluid-soundfont-gm); nothing measured"
  exit 0
fi
bash .ci/apt-install cmake make g++

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
nice cmake --build "$build" -j2 --target soundfont_bench >/dev/null
"$build/bench/soundfont_bench" "$font" "${ROUNDS:-9}"
