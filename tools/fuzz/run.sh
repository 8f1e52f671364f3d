#!/bin/sh
# Builds the fuzz targets with clang and runs each for a while.
# usage: tools/fuzz/run.sh [SECONDS [TARGET...]]   (default 300 seconds, every target)
# Targets: office_crypto_fuzz (database and encryption headers), row_decoder_fuzz,
# long_value_fuzz, date_fuzz. Seeds come from writer-made files (the shop sample, a
# password-protected and an agile-encrypted one) and from the real files in
# ../shared/access when that folder exists; corpora stay in the build folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-300}
[ $# -gt 0 ] && shift
targets=${*:-office_crypto_fuzz row_decoder_fuzz long_value_fuzz date_fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DFERROLYTE_FUZZ=ON \
  -DFERROLYTE_WITH_WINDOW=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $targets accesswriter-cli -j2

written=$build/fuzz-written
mkdir -p "$written"
mkdb=$build/tools/accesswriter/ferrolyte-mkdb
sample=$root/tools/accesswriter/sample.json
"$mkdb" "$sample" "$written/shop.mdb"
"$mkdb" --password seed "$sample" "$written/password.mdb"
"$mkdb" --ace12 --password seed --encrypt "$sample" "$written/agile.accdb"

seed() {
  corpus=$build/corpus-$1
  mkdir -p "$corpus"
  case $1 in
    office_crypto_fuzz)
      for f in "$written"/* "$root"/../shared/access/*.accdb "$root"/../shared/access/*.mdb; do
        [ -f "$f" ] || continue
        name=$(basename "$f")
        # Whole definition page (mode byte 1) and the encryption provider alone (mode byte 0).
        { printf '\001'; head -c 4096 "$f"; } >"$corpus/page-$name"
        { printf '\000'; tail -c +666 "$f" | head -c 1100; } >"$corpus/provider-$name"
      done ;;
    row_decoder_fuzz | long_value_fuzz)
      mkdir -p "$build/corpus-row_decoder_fuzz" "$build/corpus-long_value_fuzz"
      python3 "$here/seeds.py" "$build/corpus-row_decoder_fuzz" "$build/corpus-long_value_fuzz" \
        "$written/shop.mdb" "$written/password.mdb" ;;
    date_fuzz)
      for t in '2024-02-29 23:59:59' '12/31/9999' '01.01.0001 00:00' '24:00' '1899-12-30'; do
        printf '%s' "$t" >"$corpus/text-$(printf '%s' "$t" | tr -c '0-9' _)"
      done
      python3 -c "
import struct, sys
for i, v in enumerate([0.0, -0.5, 45000.75, 2958465.99999, -693593.0, 1e300, float('nan')]):
    open(sys.argv[1] + '/serial-%d' % i, 'wb').write(struct.pack('<d', v))" "$corpus" ;;
  esac
}

for target in $targets; do
  seed "$target"
  "$build/tools/fuzz/$target" -max_total_time="$seconds" -max_len=20000 -print_final_stats=1 \
    "$build/corpus-$target"
done
