#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite against a throw-away
# PostgreSQL cluster (pg_virtualenv). Exits non-zero when a test fails or none ran.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"

run_ctest() {
  cd "$build"
  ctest --output-on-failure --no-tests=error -j2 --timeout 600
}
export -f run_ctest
export build
# pg_virtualenv refuses to run as root without a target user; it drops to postgres for
# the server only, the tests keep running as the caller.
pg_virtualenv -t -o 'fsync=off' bash -c run_ctest
