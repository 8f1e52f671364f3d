#!/usr/bin/env bash
# Configures and builds into build/ (or $FERROLYTE_BUILD). Prints only warnings and errors.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake --build "$build" -- -j"$(nproc)" >"$log" 2>&1; then
  grep -vE '^\[[0-9]+/[0-9]+\] ' "$log" >&2 || true
  echo "build failed" >&2
  exit 1
fi
grep -E 'warning:' "$log" >&2 || true
