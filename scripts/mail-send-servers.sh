#!/usr/bin/env bash
# Sending side of the mail test servers: SMTP (python3-aiosmtpd) on 127.0.0.2-4 and a name server
# (dnsmasq) on a free high port, all as an unprivileged user, everything in DIR.
#   mail-send-servers.sh start DIR   -> DIR/mail-send.env (NAME=VALUE lines) once all listen
#   mail-send-servers.sh stop DIR
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?DIR}
here=$(cd "$(dirname "$0")" && pwd)

# Under root the servers run as ZEL_MAIL_SERVER_USER (default nobody).
svc_user=${ZEL_MAIL_SERVER_USER:-nobody}
as_user=()
if [ "$(id -u)" -eq 0 ]; then as_user=(runuser -u "$svc_user" --); fi

stop() {
  for p in smtp dnsmasq; do
    if [ -f "$dir/$p.pid" ]; then
      kill "$(cat "$dir/$p.pid")" 2>/dev/null || true
      rm -f "$dir/$p.pid"
    fi
  done
}

if [ "$cmd" = stop ]; then stop; exit 0; fi
[ "$cmd" = start ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

mkdir -p "$dir/tls"
tls=$dir/tls
# A throwaway CA, a server certificate it signs for every test name, and one it does not sign.
if [ ! -f "$tls/send-ca.pem" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZEL send test CA" \
    -keyout "$tls/send-ca.key" -out "$tls/send-ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=smtp.zel.test" -keyout "$tls/send-server.key" \
    -out "$tls/send-server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:smtp.zel.test,DNS:mx10.example.test,DNS:mx20.example.test,DNS:localhost,IP:127.0.0.2,IP:127.0.0.3,IP:127.0.0.4\n' \
    >"$tls/send-san.ext"
  openssl x509 -req -in "$tls/send-server.csr" -CA "$tls/send-ca.pem" -CAkey "$tls/send-ca.key" \
    -CAcreateserial -days 2 -extfile "$tls/send-san.ext" -out "$tls/send-server.pem" 2>/dev/null
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=untrusted.zel.test" \
    -addext "subjectAltName=IP:127.0.0.4" -keyout "$tls/send-untrusted.key" -out "$tls/send-untrusted.pem" 2>/dev/null
fi
chmod 755 "$dir"
chmod 644 "$tls"/*
mkdir -p "$dir/spool"
if [ ${#as_user[@]} -gt 0 ]; then chown -R "$svc_user" "$dir/spool" "$tls"; chown "$svc_user" "$dir"; fi
rm -f "$dir/smtp.env" "$dir/mail-send.env"

"${as_user[@]}" /usr/bin/python3 "$here/smtp-test-server.py" "$dir" "$tls/send-server.pem" "$tls/send-server.key" \
  "$tls/send-untrusted.pem" "$tls/send-untrusted.key" >"$dir/smtp.log" 2>&1 &
echo $! >"$dir/smtp.pid"

dnsport=$(/usr/bin/python3 -c '
import socket
while True:
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.2", 0)); p = u.getsockname()[1]
    t = socket.socket()
    try:
        t.bind(("127.0.0.2", p)); print(p); break
    except OSError:
        pass
    finally:
        u.close(); t.close()
')
# MX records 20 before 10; a domain with an exchanger nobody listens on before a working one; a domain
# with an address only.
dnsmasq --keep-in-foreground --port="$dnsport" --listen-address=127.0.0.2 --bind-interfaces \
  --no-resolv --no-hosts --conf-file=/dev/null --local=/test/ \
  --mx-host=example.test,mx20.example.test,20 --mx-host=example.test,mx10.example.test,10 \
  --host-record=mx10.example.test,127.0.0.3 --host-record=mx20.example.test,127.0.0.4 \
  --mx-host=fallback.test,mxdown.fallback.test,5 --mx-host=fallback.test,mx20.example.test,20 \
  --host-record=mxdown.fallback.test,127.0.0.5 \
  --host-record=aonly.test,127.0.0.2 \
  --user="$( [ "$(id -u)" -eq 0 ] && echo "$svc_user" || id -un)" \
  --pid-file= --log-facility="$dir/dnsmasq.log" >/dev/null 2>&1 &
echo $! >"$dir/dnsmasq.pid"

for _ in $(seq 1 100); do
  [ -f "$dir/smtp.env" ] && break
  if ! kill -0 "$(cat "$dir/smtp.pid")" 2>/dev/null; then cat "$dir/smtp.log" >&2; stop; exit 1; fi
  sleep 0.1
done
[ -f "$dir/smtp.env" ] || { echo "SMTP test servers did not start" >&2; cat "$dir/smtp.log" >&2; stop; exit 1; }
kill -0 "$(cat "$dir/dnsmasq.pid")" 2>/dev/null || { echo "dnsmasq did not start" >&2; cat "$dir/dnsmasq.log" >&2; stop; exit 1; }
{
  cat "$dir/smtp.env"
  echo "DNS_SERVER=127.0.0.2:$dnsport"
  echo "SEND_CA_FILE=$tls/send-ca.pem"
  echo "SPOOL=$dir/spool"
} >"$dir/mail-send.env.tmp"
mv "$dir/mail-send.env.tmp" "$dir/mail-send.env"
