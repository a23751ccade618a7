#!/usr/bin/python3
"""SMTP servers for the mail tests, on 127.0.0.2-4: plain, STARTTLS, SMTPS, AUTH LOGIN/PLAIN/CRAM-MD5,
and the direct-delivery port shared by three addresses. Every message is stored with its envelope as
DIR/spool/LABEL/N.eml (the bytes after DATA, dot-unstuffed) and N.json.

usage: smtp-test-server.py DIR CERT KEY UNTRUSTED_CERT UNTRUSTED_KEY
Writes DIR/smtp.env (NAME=HOST:PORT lines) once every server listens."""
import asyncio
import base64
import hashlib
import hmac
import json
import os
import secrets
import socket
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USERS = {
    "alice": "secret-pw",
    # Longer than the 64-byte HMAC block: CRAM-MD5 must hash it first.
    "bob": "b" * 80,
}


class CramSMTP(SMTP):
    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%s@zel.test>" % secrets.token_hex(8)).encode()
        reply = await self.challenge_auth(challenge)
        if not isinstance(reply, bytes):
            return AuthResult(success=False)
        try:
            user, digest = reply.decode().rsplit(" ", 1)
        except Exception:
            return AuthResult(success=False)
        pw = USERS.get(user)
        ok = pw is not None and hmac.compare_digest(
            hmac.new(pw.encode(), challenge, hashlib.md5).hexdigest(), digest)
        return AuthResult(success=ok, handled=False, auth_data=user if ok else None)


def authenticator(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword):
        user = auth_data.login.decode()
        ok = USERS.get(user) == auth_data.password.decode()
        return AuthResult(success=ok, handled=False, auth_data=user if ok else None)
    return AuthResult(success=False, handled=False)


class Store:
    def __init__(self, root, label):
        self.dir = os.path.join(root, "spool", label)
        os.makedirs(self.dir, exist_ok=True)
        self.n = 0

    async def handle_DATA(self, server, session, envelope):
        self.n += 1
        base = os.path.join(self.dir, "%04d" % self.n)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or b"")
        meta = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "mail_options": envelope.mail_options,
            "login": session.auth_data if isinstance(session.auth_data, str) else None,
            "tls": server.transport.get_extra_info("ssl_object") is not None,
            "helo": session.host_name,
            "peer": session.peer[0],
            "local": server.transport.get_extra_info("sockname")[0],
        }
        with open(base + ".json.tmp", "w") as f:
            json.dump(meta, f)
        os.rename(base + ".json.tmp", base + ".json")  # readers see whole files only
        return "250 2.0.0 stored %d" % self.n


def free_port(hosts):
    """A port free on every host."""
    while True:
        s = socket.socket()
        s.bind((hosts[0], 0))
        port = s.getsockname()[1]
        s.close()
        try:
            for h in hosts:
                t = socket.socket()
                t.bind((h, port))
                t.close()
            return port
        except OSError:
            continue


async def main():
    root, cert, key, ucert, ukey = sys.argv[1:6]
    tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls.load_cert_chain(cert, key)
    untrusted = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    untrusted.load_cert_chain(ucert, ukey)
    loop = asyncio.get_running_loop()
    env = {}

    async def serve(name, host, port, label, implicit=None, **kw):
        store = Store(root, label)

        def factory():
            return CramSMTP(store, hostname="smtp.zel.test", authenticator=authenticator, **kw)

        srv = await loop.create_server(factory, host, port, ssl=implicit, reuse_address=True)
        env[name] = "%s:%d" % (host, srv.sockets[0].getsockname()[1])
        return srv

    servers = [
        # Plain: LOGIN and PLAIN allowed without TLS; mail without AUTH is taken too.
        await serve("SMTP_PLAIN", "127.0.0.2", 0, "plain", auth_require_tls=False,
                    auth_exclude_mechanism=["CRAM-MD5"]),
        # STARTTLS required before anything else; AUTH required.
        await serve("SMTP_STARTTLS", "127.0.0.2", 0, "starttls", tls_context=tls, require_starttls=True,
                    auth_required=True),
        # SMTPS with PLAIN only; AUTH required.
        await serve("SMTPS", "127.0.0.3", 0, "smtps", implicit=tls, auth_required=True,
                    auth_require_tls=False, auth_exclude_mechanism=["LOGIN", "CRAM-MD5"]),
        # CRAM-MD5 only, no TLS; AUTH required.
        await serve("SMTP_CRAM", "127.0.0.4", 0, "cram", auth_required=True, auth_require_tls=False,
                    auth_exclude_mechanism=["LOGIN", "PLAIN"]),
        # STARTTLS with a certificate no test CA signed.
        await serve("SMTP_UNTRUSTED", "127.0.0.4", 0, "untrusted", tls_context=untrusted,
                    require_starttls=True, auth_required=True),
    ]
    direct = free_port(["127.0.0.2", "127.0.0.3", "127.0.0.4"])
    # Mail exchangers: .3 offers STARTTLS (the certificate names mx10.example.test), .2 and .4 do not.
    servers.append(await serve("DIRECT_2", "127.0.0.2", direct, "direct-127.0.0.2"))
    servers.append(await serve("DIRECT_3", "127.0.0.3", direct, "direct-127.0.0.3", tls_context=tls))
    servers.append(await serve("DIRECT_4", "127.0.0.4", direct, "direct-127.0.0.4"))
    env["SMTP_DIRECT_PORT"] = str(direct)
    with open(os.path.join(root, "smtp.env.tmp"), "w") as f:
        for k, v in env.items():
            f.write("%s=%s\n" % (k, v))
    os.rename(os.path.join(root, "smtp.env.tmp"), os.path.join(root, "smtp.env"))
    await asyncio.Event().wait()


if __name__ == "__main__":
    asyncio.run(main())
