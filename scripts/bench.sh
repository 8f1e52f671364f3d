#!/usr/bin/env bash
# Conversion benchmarks: builds a Release tree, writes the benchmark databases with the
# test-database writer and runs tools/bench under a throw-away PostgreSQL cluster (default
# settings, fsync on): our dump and direct runs next to libmdb, mdb-export, the pipeline a
# user would pick instead (mdb-schema, then mdb-export CSV into psql \copy) and psql \copy of
# a prepared CSV file, with the ratios against the goals. Not part of the test suite.
# Then the peak memory and time of a dump of a 1 GB encrypted .accdb next to the same file
# unencrypted.
#   scripts/bench.sh [ROWS] [SERVER_ROWS] [TABLES] [ENCRYPTED_ROWS]
#   defaults 1000000 100000 1000 11500000 (the last about 1 GB)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BENCH_BUILD:-$here/build-perf}
rows=${1:-1000000}
server_rows=${2:-100000}
tables=${3:-1000}
encrypted_rows=${4:-11500000}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target ferrolyte ferrolyte-bench accesswriter-cli >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrolyte-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdb="$build/tools/accesswriter/ferrolyte-mkdb"
"$mkdb" --bench-rows "$rows" "$work/rows.mdb" >/dev/null
"$mkdb" --bench-rows "$server_rows" "$work/small.mdb" >/dev/null
"$mkdb" --bench-tables "$tables" "$work/tables.mdb" >/dev/null

# libmdb warns on stderr for every odd value; the figures go to stdout.
pg_virtualenv -o fsync=on "$build/tools/bench/ferrolyte-bench" \
  --ferrolyte "$build/src/ferrolyte" --rows-file "$work/rows.mdb" \
  --small-file "$work/small.mdb" --tables-file "$work/tables.mdb" --work "$work" \
  2> >(grep -v -i '^warning' >&2)

# Seconds and peak resident kilobytes of one command, from /usr/bin/time -v; fails with the
# command.
time_and_peak() {
  local report=$work/time.txt
  if ! /usr/bin/time -v -o "$report" "$@" >/dev/null 2>&1; then
    echo "failed: $*" >&2
    return 1
  fi
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0
                                           for (i = 1; i <= n; i++) s = s * 60 + t[i] }
              /Maximum resident set size/ { kb = $2 }
              END { printf "%.2f %d\n", s, kb }' "$report"
}

# An encrypted file is decrypted page by page as it is read: its dump should take the memory
# of the plain file's (goal: under 64 MB) and not much more time.
encrypted_dump() {
  local rows=$1 password=$work/password
  printf 'P' >"$password"
  "$mkdb" --ace12 --bench-rows "$rows" "$work/plain.accdb" >/dev/null
  "$mkdb" --ace12 --password P --encrypt --bench-rows "$rows" "$work/encrypted.accdb" >/dev/null
  local size
  size=$(stat -c %s "$work/encrypted.accdb")
  local plain enc plain_s plain_kb enc_s enc_kb
  plain=$(time_and_peak "$build/src/ferrolyte" convert "$work/plain.accdb" \
    --dump "$work/plain.sql")
  rm -f "$work/plain.sql"
  enc=$(time_and_peak "$build/src/ferrolyte" convert "$work/encrypted.accdb" \
    --dump "$work/encrypted.sql" --password-file "$password")
  read -r plain_s plain_kb <<<"$plain"
  read -r enc_s enc_kb <<<"$enc"
  rm -f "$work/encrypted.sql" "$work/plain.accdb" "$work/encrypted.accdb"
  awk -v rows="$rows" -v size="$size" -v ps="$plain_s" -v pk="$plain_kb" -v es="$enc_s" \
    -v ek="$enc_kb" 'BEGIN {
      printf "\nEncrypted file (agile, %.2f GB, %d rows), dump run:\n", size / 1e9, rows
      printf "  encrypted: peak %6.1f MB %7.2f s   plain: peak %6.1f MB %7.2f s\n",
             ek / 1024, es, pk / 1024, ps
      printf "  peak %.2fx, time %.2fx of the plain file   %s\n", ek / pk, es / ps,
             ek < 64 * 1024 ? "met (goal: peak under 64 MB)" : "NOT MET (goal: peak under 64 MB)" }'
}
encrypted_dump "$encrypted_rows"
