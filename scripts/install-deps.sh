#!/usr/bin/env bash
# Installs the Debian packages and test tooling the build needs. Idempotent and quiet:
# apt-get update runs only when a package is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev
  mdbtools mdbtools-dev libglib2.0-dev
  libpugixml-dev nlohmann-json3-dev
  unixodbc unixodbc-dev odbc-postgresql libpq-dev
  libssl-dev zlib1g-dev
  postgresql postgresql-common
  qt6-base-dev xvfb xauth
  time valgrind ccache
  dpkg-dev groff-base
)
# A machine may bring its own Node.js (with npm inside); Debian's packages otherwise.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A locale that writes numbers with a decimal comma, for the locale-independence tests.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || true
fi

# The independent Access reader used by the cross-check tests.
if [ ! -d "$here/tests/node/node_modules/mdb-reader" ]; then
  (cd "$here/tests/node" && npm ci --no-audit --no-fund --silent >/dev/null)
fi
