#!/usr/bin/env bash
# Installs what is needed, builds, and runs the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
"$build/src/ferrolyte"
