#!/usr/bin/env bash
# Conversion benchmarks: builds a Release tree, writes the benchmark databases with the
# test-database writer and runs tools/bench under a throw-away PostgreSQL cluster (default
# settings, fsync on): our dump and direct runs next to libmdb, mdb-export, the pipeline a
# user would pick instead (mdb-schema, then mdb-export CSV into psql \copy) and psql \copy of
# a prepared CSV file, with the ratios against the goals. Not part of the test suite.
# Then the peak memory and time of a dump of a 1 GB encrypted .accdb next to the same file
# unencrypted; the server floor, our direct runs, our COPY dump loaded with psql and the peer
# pipeline side by side on the large table; and twenty tables moved directly with --jobs 1
# and with the default jobs.
# Installs what the build and the runs need first, as the tests do.
#   scripts/bench.sh [ROWS] [SERVER_ROWS] [TABLES] [ENCRYPTED_ROWS]
#   defaults 1000000 100000 1000 11500000 (the last about 1 GB)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BENCH_BUILD:-$here/build-perf}
rows=${1:-1000000}
server_rows=${2:-100000}
tables=${3:-1000}
encrypted_rows=${4:-11500000}

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target ferrolyte ferrolyte-bench accesswriter-cli >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrolyte-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdb="$build/tools/accesswriter/ferrolyte-mkdb"
"$mkdb" --bench-rows "$rows" "$work/rows.mdb" >/dev/null
"$mkdb" --bench-rows "$server_rows" "$work/small.mdb" >/dev/null
"$mkdb" --bench-tables "$tables" "$work/tables.mdb" >/dev/null

# libmdb warns on stderr for every odd value; the figures go to stdout.
pg_virtualenv -t -o fsync=on "$build/tools/bench/ferrolyte-bench" \
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

# One table of ROWS rows into the server, each way timed from nothing to the rows and the
# primary key committed; the ratio is the floor's time over that way's (1.00x: as fast as the
# server takes prepared rows).
side_by_side() {
  export -f time_and_peak
  export work build rows
  cat >"$work/side.sh" <<'EOF'
set -euo pipefail
to() { echo "postgresql://$PGUSER@${PGHOST:-localhost}:$PGPORT/$1"; }
psql_q() { PGOPTIONS='-c client_min_messages=warning' psql -X -q -v ON_ERROR_STOP=1 "$@"; }
ferrolyte=$build/src/ferrolyte
count() { psql -XAt -d "$1" -c "SELECT count(*) FROM $2"; }
expect() {
  local n
  n=$(count "$1" "$2")
  [ "$n" = "$rows" ] || { echo "$3 left $n rows of $rows" >&2; exit 1; }
}
# Wall seconds, and user+sys seconds of the command's own processes (not the server's).
timed() {
  /usr/bin/time -f '%e %U %S' -o "$work/t.txt" "$@" >/dev/null 2>"$work/t.err" ||
    { cat "$work/t.err" >&2; echo "failed: $*" >&2; exit 1; }
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/t.txt"
}
cat "$work/rows.mdb" >/dev/null

# Ours first: the floor's table, key and CSV are what a run makes.
read -r one_s one_cpu < <(timed "$ferrolyte" convert "$work/rows.mdb" --to "$(to side_one)" \
  --jobs 1)
expect side_one '"Bench"' "the direct run with --jobs 1"
read -r all_s all_cpu < <(timed "$ferrolyte" convert "$work/rows.mdb" --to "$(to side_all)")
expect side_all '"Bench"' "the direct run with the default jobs"
pg_dump -d side_one --section=pre-data -t '"Bench"' >"$work/pre.sql"
pg_dump -d side_one --section=post-data -t '"Bench"' >"$work/post.sql"
psql_q -d side_one -c "\\copy \"Bench\" TO '$work/side.csv' CSV"
floor() {
  createdb side_floor && psql_q -d side_floor -f "$work/pre.sql" >/dev/null &&
    psql_q -d side_floor -c "\\copy \"Bench\" FROM '$work/side.csv' CSV" &&
    psql_q -d side_floor -f "$work/post.sql" >/dev/null
}
# Our COPY-form dump, written and then loaded whole by psql.
dump_and_load() {
  "$ferrolyte" convert "$work/rows.mdb" --dump "$work/side.sql" --set dumpformat=COPY \
    --set destinationdatabase=side_dump >/dev/null &&
    psql_q -d postgres -f "$work/side.sql" >/dev/null
}
# The peer: its table from mdb-schema, its rows as CSV (ISO dates, so that the server reads
# them right) straight into psql.
peer() {
  createdb side_peer &&
    mdb-schema -T Bench "$work/rows.mdb" postgres | psql_q -d side_peer >/dev/null &&
    mdb-export -T '%Y-%m-%d %H:%M:%S' "$work/rows.mdb" Bench |
    psql_q -d side_peer -c "\\copy bench FROM STDIN WITH (FORMAT csv, HEADER)"
}
export -f floor dump_and_load peer psql_q
export ferrolyte
read -r floor_s _ < <(timed bash -c floor)
expect side_floor '"Bench"' "the floor"
read -r dump_s _ < <(timed bash -c dump_and_load)
expect side_dump '"Bench"' "the COPY dump"
rm -f "$work/side.sql" "$work/side.csv"
read -r peer_s _ < <(timed bash -c peer)
expect side_peer bench "the peer pipeline"

awk -v rows="$rows" -v f="$floor_s" -v o="$one_s" -v oc="$one_cpu" -v a="$all_s" \
  -v ac="$all_cpu" -v d="$dump_s" -v p="$peer_s" 'BEGIN {
  printf "\nOne table of %d rows into the server, side by side (ratio: floor time / time):\n", rows
  printf "  %-60s %7.2f s\n", "floor: createdb, CREATE TABLE, psql \\copy of a CSV, key", f
  printf "  %-60s %7.2f s %6.2fx   our cpu %5.2f s\n", "ferrolyte direct, --jobs 1", o, f / o, oc
  printf "  %-60s %7.2f s %6.2fx   our cpu %5.2f s\n", "ferrolyte direct, default jobs", a, f / a, ac
  printf "  %-60s %7.2f s %6.2fx\n", "ferrolyte COPY dump written, then loaded with psql", d, f / d
  printf "  %-60s %7.2f s %6.2fx\n", "peer: createdb, mdb-schema | psql, mdb-export | \\copy", p, f / p
  printf "  direct run (--jobs 1) %.2fx as fast as the peer pipeline\n", p / o }'
EOF
  pg_virtualenv -t -o fsync=on bash "$work/side.sh" 2> >(grep -v -i '^warning' >&2)
}
side_by_side

# Twenty tables of 100,000 rows each moved straight into a new database: one table at a time
# (--jobs 1) and with the default jobs (the cores, at most 4), in one cluster.
parallel_tables() {
  "$mkdb" --bench-rows 100000 --tables 20 "$work/twenty.mdb" >/dev/null
  export -f time_and_peak
  export work build
  cat >"$work/twenty.sh" <<'EOF'
set -euo pipefail
to() { echo "postgresql://$PGUSER@${PGHOST:-localhost}:$PGPORT/$1"; }
# CPU seconds of the server: its exited backends (reaped by the postmaster) and those alive.
postmaster=$(head -1 "$(psql -XAtc 'SHOW data_directory' postgres)/postmaster.pid")
server_cpu() {
  local ticks
  ticks=$(awk '{ print $16 + $17 }' "/proc/$postmaster/stat")
  for child in $(pgrep -P "$postmaster"); do
    ticks=$((ticks + $(awk '{ print $14 + $15 }' "/proc/$child/stat" 2>/dev/null || echo 0)))
  done
  awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }'
}
# Wall seconds, peak kilobytes, our CPU seconds and the server's during the run. Each run
# begins just after a checkpoint, so that neither pays for the WAL of the one before.
run() {
  local before
  psql -XAtqc CHECKPOINT postgres
  before=$(server_cpu)
  /usr/bin/time -f '%e %M %U %S' -o "$work/t.txt" "$build/src/ferrolyte" convert \
    "$work/twenty.mdb" --to "$(to "$1")" "${@:2}" >/dev/null 2>&1
  sleep 1 # the backends' exit, for their CPU
  awk -v b="$before" -v a="$(server_cpu)" '{ printf "%s %s %.2f %.2f\n", $1, $2, $3 + $4, a - b }' \
    "$work/t.txt"
}
read -r one_s one_kb one_cpu one_srv < <(run twenty_one --jobs 1)
read -r all_s all_kb all_cpu all_srv < <(run twenty_all)
awk -v os="$one_s" -v ok="$one_kb" -v as="$all_s" -v ak="$all_kb" -v cores="$(nproc)" \
  -v oc="$one_cpu" -v osv="$one_srv" -v ac="$all_cpu" -v asv="$all_srv" \
  -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
  printf "\nTwenty tables of 100000 rows, direct run (%d cores):\n", cores
  printf "  --jobs 1: %7.2f s, peak %5.1f MB   default jobs: %7.2f s, peak %5.1f MB\n",
         os, ok / 1024, as, ak / 1024
  printf "  cpu, ours + server: --jobs 1 %.2f + %.2f s (%.2f cores busy)   default jobs %.2f + %.2f s (%.2f cores)\n",
         oc, osv, (oc + osv) / os, ac, asv, (ac + asv) / as
  printf "  default jobs %.2fx as fast as --jobs 1   %s\n", os / as,
         (os / as >= 1.7) ? "met (goal >= 1.7x)" : "NOT MET (goal >= 1.7x)"
  printf "  that cpu takes %.2f s at best on %d idle cores (load average %s during the runs)\n",
         (ac + asv) / cores, cores, load }'
EOF
  pg_virtualenv -t -o fsync=on bash "$work/twenty.sh"
}
parallel_tables
