#!/bin/sh
# Builds the fuzz target with clang and runs it for a while.
# usage: tools/fuzz/run.sh [SECONDS]   (default 300)
# Seeds come from writer-made files (password-protected and agile-encrypted) and from the
# headers of the real files in ../shared/access when that folder exists; they stay in the
# build folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-300}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DFERROLYTE_FUZZ=ON \
  -DFERROLYTE_WITH_WINDOW=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target office_crypto_fuzz accesswriter-cli -j2

corpus=$build/fuzz-corpus
written=$build/fuzz-written
mkdir -p "$corpus" "$written"
mkdb=$build/tools/accesswriter/ferrolyte-mkdb
sample=$root/tools/accesswriter/sample.json
"$mkdb" --password seed "$sample" "$written/password.mdb"
"$mkdb" --ace12 --password seed --encrypt "$sample" "$written/agile.accdb"
for f in "$written"/* "$root"/../shared/access/*.accdb "$root"/../shared/access/*.mdb; do
  [ -f "$f" ] || continue
  name=$(basename "$f")
  # Whole definition page (mode byte 1) and the encryption provider alone (mode byte 0).
  { printf '\001'; head -c 4096 "$f"; } >"$corpus/page-$name"
  { printf '\000'; tail -c +666 "$f" | head -c 1100; } >"$corpus/provider-$name"
done
"$build/tools/fuzz/office_crypto_fuzz" -max_total_time="$seconds" -max_len=4097 \
  -print_final_stats=1 "$corpus"
