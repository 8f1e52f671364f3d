#!/usr/bin/env bash
# The Debian package as a user gets it: built by scripts/package.sh, unpacked into a
# throw-away root, its program run from there. Checks what the package holds and depends on,
# that every library of the installed program is found, that the installed program converts
# the writer-made sample, and that its manual page and completion say what its --help says.
#   tests/package/package_test.sh            (FERROLYTE_BUILD: the build folder, default build/)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

"$here/scripts/build.sh" ferrolyte sample_database
deb=$(FERROLYTE_BUILD=$build "$here/scripts/package.sh" "$work/out")
version=$("$build/src/ferrolyte" --version | awk '{print $NF}')
[ "$(basename "$deb")" = "ferrolyte_${version}_amd64.deb" ] || fail "package named $(basename "$deb")"

# What it is and what it needs: runtime libraries, never a development package.
[ "$(dpkg-deb -f "$deb" Package)" = ferrolyte ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
needs=(libc6 libpq5 libmdb3 libodbc odbc-postgresql libssl3)
ldd "$build/src/ferrolyte" | grep -q libQt6Widgets && needs+=(libqt6widgets6)
for needed in "${needs[@]}"; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
[[ $depends != *-dev* ]] || fail "Depends names a development package: $depends"

# What it holds: the program, the manual page, the completion, and nothing outside /usr.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for file in ./usr/bin/ferrolyte ./usr/share/man/man1/ferrolyte.1.gz \
  ./usr/share/bash-completion/completions/ferrolyte; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
outside=$(grep -v '^\./usr/' <<<"$contents" | grep -vx './' || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"

root=$work/root
dpkg-deb -x "$deb" "$root"
program=$root/usr/bin/ferrolyte
missing=$(ldd "$program" | grep 'not found' || true)
[ -z "$missing" ] || fail "libraries not found: $missing"
! readelf -S "$program" | grep -q '\.debug_info' || fail "the program keeps its debug information"
[ "$("$program" --version)" = "$("$build/src/ferrolyte" --version)" ] ||
  fail "the installed program says $("$program" --version)"

# The installed program converts the sample, as it is and with names folded.
export HOME=$work/home APPDATA= XDG_CONFIG_HOME=
mkdir -p "$HOME"
for names in KEEP SNAKE; do
  dump=$work/shop-$names.sql
  status=0
  "$program" convert "$build/sample/shop.mdb" --dump "$dump" --set identifiercase=$names \
    --save-settings "$work/shop.ini" >/dev/null 2>&1 || status=$?
  [ "$status" = 0 ] || fail "converting the sample ($names) exits $status"
  grep -q '^CREATE TABLE ' "$dump" || fail "the dump ($names) holds no table"
done
unfolded=$(grep -a '^CREATE TABLE ' "$work/shop-SNAKE.sql" | grep -av '^CREATE TABLE "[a-z0-9_]*" (' || true)
[ -z "$unfolded" ] || fail "SNAKE left names unfolded: $unfolded"

# The manual page: well-formed, and every option of the help is in it.
page=$(zcat "$root/usr/share/man/man1/ferrolyte.1.gz")
warnings=$(groff -man -ww -z <<<"$page" 2>&1 || true)
[ -z "$warnings" ] || fail "the manual page has faults: $warnings"
help=$("$program" --help)
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -qF -- "${option//-/\\-}" <<<"$page" || fail "the manual page lacks $option"
done

# The completion offers the help's options of each form and every key a settings file holds.
complete_line() {
  PATH=$root/usr/bin:$PATH bash -c '
    source "$1"
    COMP_LINE=$2
    COMP_POINT=${#COMP_LINE}
    _ferrolyte
    printf "%s\n" "${COMPREPLY[@]}"' _ "$root/usr/share/bash-completion/completions/ferrolyte" "$1"
}
for form in tables convert; do
  offered=$(complete_line "ferrolyte $form shop.mdb --")
  for option in $(awk -v f="$form:" '$0 == f {on = 1; next} /^[^ ]/ {on = 0} on && /^  --/ {print $1}' <<<"$help"); do
    grep -qx -- "$option" <<<"$offered" || fail "completion of $form lacks $option"
  done
done
offered=$(complete_line "ferrolyte convert shop.mdb --set " | sort)
saved=$(tr -d '\r' <"$work/shop.ini" | sed -n 's/^ *\([a-z]*\)\(\[\]\)\{0,1\}=.*/\1=/p' | sort)
[ "$offered" = "$saved" ] ||
  fail "completion of --set differs from the keys a settings file holds: $(diff <(echo "$offered") <(echo "$saved") | grep '^[<>]' | tr '\n' ' ')"
[ "$(complete_line "ferrolyte convert shop.mdb --set identifiercase=" | tr '\n' ' ')" = "KEEP LOWER SNAKE " ] ||
  fail "completion of identifiercase values"

if [ "$failures" -gt 0 ]; then
  echo "package test: $failures failures" >&2
  exit 1
fi
echo "package test: $(basename "$deb") passed"
