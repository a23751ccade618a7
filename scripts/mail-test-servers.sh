#!/usr/bin/env bash
# Starts or stops the mail servers the tests talk to, all on free loopback ports, all in DIR:
#   mail-test-servers.sh start DIR   writes DIR/env (shell assignments the tests read) and prints it
#   mail-test-servers.sh stop DIR
# Pieces:
#   pki      a throw-away CA (DIR/pki/ca.crt) with a server certificate for localhost and 127.0.0.1-4,
#            and an untrusted self-signed one (DIR/pki/untrusted.crt/.key)
#   pop3     Dovecot POP3 (plain + STLS) and POP3S; users "alice" and "bob" with password "secret";
#            mail goes into DIR/mail/USER/Maildir/new
#   send     SMTP (python3-aiosmtpd) on 127.0.0.2-4 and dnsmasq; DIR/send/mail-send.env
#   (further servers are added as one start_X/stop_X pair each; see "servers" below)
# Daemons run as the unprivileged user "zelmail" (runuser under root).
set -euo pipefail
cmd=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
env_file="$dir/env"

as_user=()
svc_user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  id zelmail >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin zelmail
  as_user=(runuser -u zelmail --)
  svc_user=zelmail
fi

# A free loopback TCP port (the kernel's choice).
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

put_env() { echo "$1=$2" >>"$env_file"; }

# Waits until something listens on 127.0.0.1:PORT (10 s at most).
wait_port() {
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

start_pki() {
  local p="$dir/pki"
  mkdir -p "$p"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZEL test CA" \
    -keyout "$p/ca.key" -out "$p/ca.crt" >/dev/null 2>&1
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$p/server.key" -out "$p/server.csr" \
    >/dev/null 2>&1
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3,IP:127.0.0.4\n' >"$p/san.ext"
  openssl x509 -req -in "$p/server.csr" -CA "$p/ca.crt" -CAkey "$p/ca.key" -CAcreateserial -days 2 \
    -extfile "$p/san.ext" -out "$p/server.crt" >/dev/null 2>&1
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -keyout "$p/untrusted.key" -out "$p/untrusted.crt" \
    >/dev/null 2>&1
  chmod 644 "$p"/*.key
  put_env ZEL_TEST_MAIL_CA "$p/ca.crt"
  put_env ZEL_TEST_MAIL_CERT "$p/server.crt"
  put_env ZEL_TEST_MAIL_KEY "$p/server.key"
  put_env ZEL_TEST_MAIL_UNTRUSTED_CERT "$p/untrusted.crt"
  put_env ZEL_TEST_MAIL_UNTRUSTED_KEY "$p/untrusted.key"
}

start_pop3() {
  local d="$dir/dovecot" port sport
  command -v dovecot >/dev/null || { echo "dovecot is not installed (dovecot-pop3d)" >&2; return 1; }
  port=$(free_port)
  sport=$(free_port)
  mkdir -p "$d/run" "$d/state" "$dir/mail"
  for u in alice bob; do
    mkdir -p "$dir/mail/$u/Maildir/new" "$dir/mail/$u/Maildir/cur" "$dir/mail/$u/Maildir/tmp"
    echo "$u:{PLAIN}secret::::::" >>"$d/passwd"
  done
  cat >"$d/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $d/run
state_dir = $d/state
log_path = $d/dovecot.log
info_log_path = $d/dovecot.log
default_internal_user = $svc_user
default_internal_group = $(id -gn "$svc_user")
default_login_user = $svc_user
first_valid_uid = 1
first_valid_gid = 1
disable_plaintext_auth = no
auth_mechanisms = plain login
ssl = yes
ssl_cert = <$dir/pki/server.crt
ssl_key = <$dir/pki/server.key
ssl_dh = </usr/share/dovecot/dh.pem
mail_location = maildir:$dir/mail/%u/Maildir
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $d/passwd
}
userdb {
  driver = static
  args = uid=$svc_user gid=$(id -gn "$svc_user") home=$dir/mail/%u
}
service pop3-login {
  chroot =
  user = $svc_user
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $sport
    ssl = yes
  }
}
service imap-login {
  chroot =
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
service anvil {
  chroot =
}
service auth {
  user = $svc_user
}
service auth-worker {
  user = $svc_user
}
CONF
  chown -R "$svc_user" "$d" "$dir/mail"
  chmod -R a+rwX "$dir/mail"
  "${as_user[@]}" dovecot -F -c "$d/dovecot.conf" >"$d/stdout.log" 2>&1 &
  echo $! >"$d/pid"
  wait_port "$port" && wait_port "$sport" || { cat "$d/stdout.log" "$d/dovecot.log" >&2 2>/dev/null; return 1; }
  put_env ZEL_TEST_POP3_PORT "$port"
  put_env ZEL_TEST_POP3S_PORT "$sport"
  put_env ZEL_TEST_MAILDIR "$dir/mail"
}

stop_pop3() {
  local d="$dir/dovecot"
  [ -f "$d/pid" ] || return 0
  kill "$(cat "$d/pid")" 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$(cat "$d/pid")" 2>/dev/null || break; sleep 0.1; done
  rm -f "$d/pid"
}

# Sending side: SMTP servers on 127.0.0.2-4 (plain, STARTTLS, SMTPS, AUTH LOGIN/PLAIN/CRAM-MD5,
# the direct-delivery port) and dnsmasq, with their own CA; see mail-send-servers.sh.
start_send() {
  ZEL_MAIL_SERVER_USER=$svc_user "$here/mail-send-servers.sh" start "$dir/send" || return 1
  put_env ZEL_TEST_MAIL_SEND_DIR "$dir/send"
}

stop_send() {
  "$here/mail-send-servers.sh" stop "$dir/send"
}

# Servers in start order; each NAME has start_NAME and (optional) stop_NAME.
servers=(pki pop3 send)

case "$cmd" in
start)
  chmod 755 "$dir"
  : >"$env_file"
  put_env ZEL_TEST_MAIL_DIR "$dir"
  for s in "${servers[@]}"; do
    if ! "start_$s"; then
      echo "mail test server \"$s\" did not start" >&2
      exit 1
    fi
  done
  cat "$env_file"
  ;;
stop)
  for ((i = ${#servers[@]} - 1; i >= 0; i--)); do
    s=${servers[$i]}
    declare -F "stop_$s" >/dev/null && "stop_$s" || true
  done
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
