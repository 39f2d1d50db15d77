# Sourced by the page's benchmarks (web.sh, play.sh, soundfont_page.sh), from the clone's top.
# bench_browsers NAME: installs what building the page takes and the browsers it is timed in, and
# sets `browsers` to those there are (chromium, firefox); a browser that can't be installed is left
# out, and said so under NAME; with neither, the benchmark ends.
bench_browsers() {
  local name=$1 browser
  bash .ci/apt-install cmake make g++ emscripten node-acorn
  browsers=()
  for browser in chromium firefox-esr; do
    if bash .ci/apt-install "$browser"; then
      browsers+=("${browser%-esr}")
    else
      echo "$name: $browser could not be installed: left out"
    fi
  done
  [ ${#browsers[@]} -gt 0 ] || { echo "$name: neither Chromium nor Firefox could be installed" >&2; exit 1; }
}
