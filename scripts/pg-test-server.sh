#!/usr/bin/env bash
# Starts or stops a throw-away PostgreSQL server on a loopback port for the tests.
#   pg-test-server.sh start DIR PORT   prints the ZEL_TEST_PG value (127.0.0.1:PORT)
#   pg-test-server.sh stop DIR
# PostgreSQL refuses to run as root: as root the server runs as the "postgres" user.
set -euo pipefail
cmd=$1 dir=$2
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 || useradd --system --home-dir /var/lib/postgresql --shell /bin/bash postgres
  as_user=(runuser -u postgres --)
fi
case "$cmd" in
start)
  port=$3
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    "${as_user[@]}" "$bindir/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log"; exit 1; }
  fi
  "${as_user[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
    start >/dev/null || { cat "$dir/server.log"; exit 1; }
  echo "127.0.0.1:$port"
  ;;
stop)
  "${as_user[@]}" "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  ;;
esac
