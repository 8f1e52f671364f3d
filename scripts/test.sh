#!/usr/bin/env bash
# Installs what is needed, builds, checks the Debian package, and runs the whole test suite
# against a throw-away PostgreSQL cluster (pg_virtualenv). Exits non-zero when a test fails
# or none ran.
# Then, against the same cluster, the tests that talk to a server once more: built with
# AddressSanitizer and UBSan (build-asan/, the program and the tests only), and the ODBC
# paths under valgrind, which also sees into the ODBC driver that ASan does not instrument.
# FERROLYTE_QUICK=1 leaves those two out.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLYTE_BUILD:-$here/build}
asan=${FERROLYTE_ASAN_BUILD:-$here/build-asan}
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
# The Debian package, unpacked into a throw-away root and run from there.
FERROLYTE_BUILD=$build "$here/tests/package/package_test.sh"

# The libraries below us (libmdb, glib, the ODBC driver) keep memory until the process
# ends; leaks are not what this looks for.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
if [ "${FERROLYTE_QUICK:-0}" != 1 ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  FERROLYTE_BUILD=$asan "$here/scripts/build.sh" -DCMAKE_BUILD_TYPE=Debug -DFERROLYTE_SANITIZE=ON \
    -DFERROLYTE_WITH_WINDOW=OFF "${launcher[@]}" ferrolyte ferrolyte_tests
fi

run_ctest() {
  set -e
  cd "$build"
  ctest --output-on-failure --no-tests=error -j2 --timeout 600
  [ "${FERROLYTE_QUICK:-0}" = 1 ] && return
  cd "$asan"
  ctest --output-on-failure --no-tests=error -j2 --timeout 600 -R \
    '^(OdbcConnectionTest|PgConnectionTest|DirectRunTest|DirectRunSharedFilesTest|FastDirectTest|ServerRefusalTest|DumpIntegrationTest|TwoRunsTest|CliTest|AutorunTest)\.'
  valgrind -q --error-exitcode=99 --suppressions="$here/tests/valgrind/psqlodbc.supp" \
    "$build/tests/ferrolyte_tests" --gtest_brief=1 --gtest_filter='OdbcConnectionTest.*:ServerRefusalTest.Refused*:FastDirectTest.Rejected*:DirectRunTest.Rejected*'
}
export -f run_ctest
export build asan here
# pg_virtualenv refuses to run as root without a target user; it drops to postgres for
# the server only, the tests keep running as the caller.
pg_virtualenv -t -o 'fsync=off' bash -c run_ctest
