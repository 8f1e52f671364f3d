#!/usr/bin/env bash
# Builds the Debian package ferrolyte_<version>_amd64.deb (the program, its manual page
# ferrolyte(1) and its bash completion) with CPack, and prints its path.
#   scripts/package.sh [OUTPUT_FOLDER]      default: build/package
# Install it with: apt install ./ferrolyte_<version>_amd64.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
out=$(mkdir -p "${1:-$build/package}" && cd "${1:-$build/package}" && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" ferrolyte
log=$(mktemp)
trap 'rm -f "$log"; rm -rf "$out/_CPack_Packages"' EXIT
if ! (cd "$build" && cpack -G DEB -B "$out") >"$log" 2>&1; then
  cat "$log" >&2
  echo "packaging failed" >&2
  exit 1
fi
package=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' "$log")
[ -f "$package" ] || { cat "$log" >&2; echo "no package was written" >&2; exit 1; }
echo "$package"
