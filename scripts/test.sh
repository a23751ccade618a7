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
  "$root/scripts/mail-test-servers.sh" stop "$maildir" || true
  rm -rf "$maildir"
  "$root/scripts/pg-test-server.sh" stop "$pgdir"
  rm -rf "$pgdir"
}
trap cleanup EXIT
ZEL_TEST_PG=$(scripts/pg-test-server.sh start "$pgdir" "$port")
# Mail servers (POP3, SMTP, DNS) on free loopback ports; the mail tests read DIR/env. Under CI a
# server that does not start fails the run, and the tests themselves fail without it.
if scripts/mail-test-servers.sh start "$maildir" >/dev/null; then
  set -a
  # shellcheck disable=SC1091
  . "$maildir/env"
  set +a
elif [ -n "${CI:-}" ]; then
  echo "the mail test servers did not start" >&2
  exit 1
else
  echo "warning: the mail test servers did not start; mail server tests will be skipped" >&2
fi
export ZEL_TEST_PG ZEL_TEST_PG_USER=postgres
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j 2 "$@"
