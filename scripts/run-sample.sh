#!/usr/bin/env bash
# Installs what is needed, builds, and converts the bundled sample database (build/sample/
# shop.mdb) into a SQL dump with an unattended run. Prints where the dump and the log are.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
cmake --build "$build" --target sample_database >/dev/null

sample="$build/sample"
db="$sample/shop.mdb"
ini="$sample/shop.ini"
dump="$sample/shop.sql"

# Every user table with every field, as the wizard writes a selection with all ticked.
list=""
while IFS= read -r table; do
  header=$( (mdb-export -d $'\t' "$db" "$table" 2>/dev/null || true) | head -n 1)
  IFS=$'\t' read -r -a fields <<<"$header"
  for path in "$table" "${fields[@]/#/$table\\}"; do
    list+="${list:+,}\"${path//\"/\"\"}\""
  done
done < <(mdb-tables -1 "$db")
printf '[Velkan Ferrolyte]\r\n  sourcefilename=%s\r\n  destinationmethod=DUMP\r\n  destinationdatabase=shop\r\n  destinationdumpfilename=%s\r\n  sourcetables[]=%s\r\n' \
  "$db" "$dump" "$list" >"$ini"

config=${APPDATA:-${XDG_CONFIG_HOME:-$HOME/.config}}
log="$config/Quorvane/Ferrolyte/ferrolyte.log"

status=0
"$build/src/ferrolyte" "settings=$ini" autorun || status=$?

echo "Settings: $ini"
echo "Log:      $log"
if [ "$status" -ne 0 ]; then
  echo "The conversion failed (exit status $status); the log says why." >&2
  exit "$status"
fi
echo "Dump:     $dump"
echo "Load it:  sed '/^-- NOTICE:/q' '$dump' | psql -v ON_ERROR_STOP=1 -d postgres"
echo "          sed -n '/^-- NOTICE:/,\$p' '$dump' | psql -v ON_ERROR_STOP=1 -d shop"
