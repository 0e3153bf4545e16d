#!/usr/bin/python3
"""Prints a received mail as JSON: envelope, headers, decoded text parts and attachments.

Usage: parse_mail.py FILE. The end-to-end tests use Python's email package so that the checks
see the mail as a mail reader would: transfer encodings and character sets decoded.
"""
import base64
import email
import email.policy
import json
import sys

with open(sys.argv[1], "rb") as f:
    raw = f.read()
msg = email.message_from_bytes(raw, policy=email.policy.default)
result = {
    "headers": {k: str(v) for k, v in msg.items()},
    "texts": [],
    "attachments": [],
    "raw": raw.decode("latin-1"),
}
for part in msg.walk():
    if part.is_multipart():
        continue
    filename = part.get_filename()
    if filename is not None or part.get_content_disposition() == "attachment":
        result["attachments"].append({
            "filename": filename,
            "content_type": part.get_content_type(),
            "base64": base64.b64encode(part.get_payload(decode=True) or b"").decode(),
        })
    else:
        result["texts"].append({"content_type": part.get_content_type(), "text": part.get_content()})
print(json.dumps(result))
