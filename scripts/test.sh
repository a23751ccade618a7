#!/usr/bin/env bash
# Quick start for the tests: install what is missing, build, start a PostgreSQL test server on a
# loopback port, run the whole suite with ctest, stop the server.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
scripts/build.sh
pgdir=$(mktemp -d /tmp/zel-pg.XXXXXX)
chmod 755 "$pgdir"
port=${ZEL_TEST_PG_PORT:-54329}
cleanup() { "$root/scripts/pg-test-server.sh" stop "$pgdir"; rm -rf "$pgdir"; }
trap cleanup EXIT
ZEL_TEST_PG=$(scripts/pg-test-server.sh start "$pgdir" "$port")
export ZEL_TEST_PG ZEL_TEST_PG_USER=postgres
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j 2 "$@"
