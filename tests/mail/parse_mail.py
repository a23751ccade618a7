#!/usr/bin/python3
"""Parses a message file with Python's email package and prints a JSON summary: headers as the
library decodes them, every leaf part with its type, transfer encoding, file name, Content-ID and
decoded payload (text as text, other parts as a SHA-1), and every defect the parser noticed."""
import email
import email.policy
import hashlib
import json
import sys

with open(sys.argv[1], "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default)

out = {"defects": [type(d).__name__ for d in msg.defects]}
for h in ("subject", "from", "to", "cc", "sender", "message-id", "date", "mime-version", "x-mailer"):
    v = msg.get(h)
    out[h] = None if v is None else str(v)
out["header_order"] = [k for k, _ in msg.items()]
parts = []
for p in msg.walk():
    out["defects"] += [type(d).__name__ for d in p.defects]
    if p.is_multipart():
        parts.append({"type": p.get_content_type(), "boundary": p.get_boundary()})
        continue
    payload = p.get_payload(decode=True) or b""
    entry = {
        "type": p.get_content_type(),
        "cte": p.get("content-transfer-encoding"),
        "filename": p.get_filename(),
        "cid": p.get("content-id"),
        "size": len(payload),
        "sha1": hashlib.sha1(payload).hexdigest(),
    }
    if p.get_content_maintype() == "text":
        entry["text"] = p.get_content()
    parts.append(entry)
out["parts"] = parts
json.dump(out, sys.stdout)
