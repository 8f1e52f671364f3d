#!/usr/bin/env bash
# Configures and builds into build/ (or $FERROLYTE_BUILD). Prints only warnings and errors.
#   scripts/build.sh                      everything, tests included
#   scripts/build.sh ferrolyte ...        only the targets named (and what they need)
# Arguments starting with "-" go to the first configure, e.g. -DFERROLYTE_WITH_WINDOW=OFF.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
configure=()
targets=()
for arg in "$@"; do
  case $arg in
    -*) configure+=("$arg") ;;
    *) targets+=(--target "$arg") ;;
  esac
done
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake --build "$build" "${targets[@]}" -- -j"$(nproc)" >"$log" 2>&1; then
  grep -vE '^\[[0-9]+/[0-9]+\] ' "$log" >&2 || true
  echo "build failed" >&2
  exit 1
fi
grep -E 'warning:' "$log" >&2 || true
