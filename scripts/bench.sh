#!/usr/bin/env bash
# Conversion benchmarks: builds a Release tree, writes the benchmark databases with the
# test-database writer and runs tools/bench under a throw-away PostgreSQL cluster (default
# settings, fsync on): our dump and direct runs next to libmdb, mdb-export, the pipeline a
# user would pick instead (mdb-schema, then mdb-export CSV into psql \copy) and psql \copy of
# a prepared CSV file, with the ratios against the goals. Not part of the test suite.
#   scripts/bench.sh [ROWS] [SERVER_ROWS] [TABLES]    defaults 1000000 100000 1000
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BENCH_BUILD:-$here/build-perf}
rows=${1:-1000000}
server_rows=${2:-100000}
tables=${3:-1000}

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
