#!/usr/bin/env bash
# Loads every dump the test programs kept in the folder (FERROLYTE_COLLECT_DUMPS) with
# psql -v ON_ERROR_STOP=1 as its NOTICE line says: the part before that line on the
# maintenance database, the rest on the database the dump creates. Fails naming each dump
# that does not load; exits 77 (skipped) without a server.
set -uo pipefail
folder=$1
if [ -z "${PGPORT:-}" ] || ! command -v psql >/dev/null; then
  echo "no PostgreSQL server (PGPORT unset or no psql)"
  exit 77
fi
maintenance=${PGDATABASE:-postgres}
psql=(psql -X -q -v ON_ERROR_STOP=1)
shopt -s nullglob
loaded=0 failed=0
declare -A seen
for dump in "$folder"/*; do
  sum=$(md5sum < "$dump")
  [ -n "${seen[$sum]:-}" ] && continue
  seen[$sum]=1
  # The database the dump creates: its last CREATE DATABASE before the NOTICE line.
  database=$(sed -n '/^-- NOTICE:/q; s/^CREATE DATABASE "\(.*\)";\r\{0,1\}$/\1/p' "$dump" | tail -n 1)
  database=${database//\"\"/\"}
  if [ -z "$database" ]; then
    echo "FAILED $(basename "$dump"): no CREATE DATABASE before the NOTICE line"
    failed=$((failed + 1))
    continue
  fi
  drop="DROP DATABASE IF EXISTS \"${database//\"/\"\"}\" WITH (FORCE)"
  "${psql[@]}" -d "$maintenance" -c "$drop" >/dev/null 2>&1
  log=$(mktemp)
  if sed '/^-- NOTICE:/q' "$dump" | "${psql[@]}" -d "$maintenance" >"$log" 2>&1 &&
    sed -n '/^-- NOTICE:/,$p' "$dump" | "${psql[@]}" -d "$database" >>"$log" 2>&1; then
    loaded=$((loaded + 1))
  else
    failed=$((failed + 1))
    echo "FAILED $(basename "$dump") (database $database):"
    grep -m 3 -E 'ERROR|FATAL' "$log" | sed 's/^/  /'
  fi
  rm -f "$log"
  # Out of the next dump's way; renaming is cheap where dropping waits for a checkpoint.
  "${psql[@]}" -d "$maintenance" -c "ALTER DATABASE \"${database//\"/\"\"}\" RENAME TO kept_dump_$((loaded + failed))" >/dev/null 2>&1
done
echo "$loaded dumps loaded, $failed did not load"
[ "$failed" -eq 0 ]
