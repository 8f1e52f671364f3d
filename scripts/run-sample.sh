#!/usr/bin/env bash
# Installs what is needed, builds the program and the bundled sample database (build/sample/
# shop.mdb), and converts it into a SQL dump from the command line. Prints where the dump and
# the log are. The build shows its progress on standard error.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
"$here/scripts/install-deps.sh"
# The program and the sample only; the test suite is scripts/test.sh's to build.
"$here/scripts/build.sh" ferrolyte accesswriter-cli sample_database

sample="$build/sample"
db="$sample/shop.mdb"
ini="$sample/shop.ini"
dump="$sample/shop.sql"

config=${APPDATA:-${XDG_CONFIG_HOME:-$HOME/.config}}
log="$config/Quorvane/Ferrolyte/ferrolyte.log"

# Every table with all its fields; the settings of the run are kept, so that
# "ferrolyte settings=$ini autorun" repeats it.
status=0
"$build/src/ferrolyte" convert "$db" --dump "$dump" --save-settings "$ini" || status=$?

echo "Settings: $ini"
echo "Log:      $log"
if [ "$status" -ne 0 ]; then
  echo "The conversion failed (exit status $status); the log says why." >&2
  exit "$status"
fi
echo "Dump:     $dump"
echo "Load it:  psql -v ON_ERROR_STOP=1 -d postgres -f '$dump'"
