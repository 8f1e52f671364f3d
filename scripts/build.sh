#!/usr/bin/env bash
# Configures and builds into build/ (or $FERROLYTE_BUILD). Prints the build's progress on
# standard error ("building… N/M", one line rewritten on a terminal, else a line every tenth),
# then only warnings and errors.
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
# Ninja's "[N/M] ..." lines as a short progress line.
progress() {
  local terminal=0
  [ -t 2 ] && terminal=1
  awk -v terminal="$terminal" '
    /^\[[0-9]+\/[0-9]+\] / {
      split(substr($1, 2, length($1) - 2), n, "/")
      if (terminal) { printf "\rbuilding… %d/%d", n[1], n[2] > "/dev/stderr"; shown = 1 }
      else if (n[1] == 1 || int(n[1] * 10 / n[2]) > step) {
        step = int(n[1] * 10 / n[2]); printf "building… %d/%d\n", n[1], n[2] > "/dev/stderr"
      }
      fflush("/dev/stderr")
    }
    END { if (shown) printf "\r%30s\r", "" > "/dev/stderr" }'
}
if ! cmake --build "$build" "${targets[@]}" -- -j"$(nproc)" 2>&1 | tee "$log" | progress; then
  grep -vE '^\[[0-9]+/[0-9]+\] ' "$log" >&2 || true
  echo "build failed" >&2
  exit 1
fi
grep -E 'warning:' "$log" >&2 || true
