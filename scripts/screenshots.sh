#!/usr/bin/env bash
# Pictures of every wizard page at 100% and 200% scale, under a virtual X display.
# Writes build/screenshots/*.png (FERROLYTE_BUILD overrides the build folder).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
out="$build/screenshots"
cmake --build "$build" --target ferrolyte_window_screenshots
tool="$build/tests/window/ferrolyte_window_screenshots"
mkdir -p "$out"
run() {
  xvfb-run -a -s "-screen 0 1280x800x24" env -u QT_QPA_PLATFORM "$@"
}
run env QT_SCALE_FACTOR=1 "$tool" "$out" 100
run env QT_SCALE_FACTOR=2 "$tool" "$out" 200
run env QT_SCALE_FACTOR=1 "$tool" "$out" 100-screenshotmode screenshotmode
echo "Screenshots in $out"
