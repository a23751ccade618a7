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
# Take the first free loopback port from there.
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
maildir=$(mktemp -d /tmp/zel-mail.XXXXXX)
cleanup() {
  "$root/scripts/mail-send-servers.sh" stop "$maildir" || true
  "$root/scripts/pg-test-server.sh" stop "$pgdir"
  rm -rf "$pgdir" "$maildir"
}
trap cleanup EXIT
ZEL_TEST_PG=$(scripts/pg-test-server.sh start "$pgdir" "$port")
export ZEL_TEST_PG ZEL_TEST_PG_USER=postgres
# SMTP servers and a name server for the mail tests.
scripts/mail-send-servers.sh start "$maildir"
export ZEL_TEST_MAIL_DIR=$maildir
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j 2 "$@"
