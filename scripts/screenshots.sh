#!/usr/bin/env bash
# Pictures of every wizard page at 100% and 200% scale, with the window at its least size and
# filling the screen, under a virtual X display. Writes build/screenshots/*.png, or into the
# folder given (scripts/screenshots.sh docs/screenshots). FERROLYTE_BUILD overrides the build
# folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
out=$(realpath -m "${1:-$build/screenshots}")
cmake --build "$build" --target ferrolyte_window_screenshots
tool="$build/tests/window/ferrolyte_window_screenshots"
mkdir -p "$out"
# The 200% screen is twice as large, so that the window filling it has the room it has at 100%.
run() {
  local screen=$1
  shift
  xvfb-run -a -s "-screen 0 ${screen}x24" env -u QT_QPA_PLATFORM "$@"
}
run 1280x800 env QT_SCALE_FACTOR=1 "$tool" "$out" 100
run 2560x1600 env QT_SCALE_FACTOR=2 "$tool" "$out" 200
run 1280x800 env QT_SCALE_FACTOR=1 "$tool" "$out" 100-max maximized
run 2560x1600 env QT_SCALE_FACTOR=2 "$tool" "$out" 200-max maximized
run 1280x800 env QT_SCALE_FACTOR=1 "$tool" "$out" 100-screenshotmode screenshotmode
echo "Screenshots in $out"
