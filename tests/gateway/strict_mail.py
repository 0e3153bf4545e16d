#!/usr/bin/python3
"""Usage: strict_mail.py FILE. Reads a mail with Python's email package (policy SMTP) and prints
its defects ("none"), "lines: ok" when no line is longer than 998 characters and none of a
quoted-printable or base64 body longer than 76, and per leaf part its type, charset and file name
(and for HTML the charsets its <meta> tags name). Leaf part N's decoded content goes to FILE.N."""
import email
import email.policy
import re
import sys

path = sys.argv[1]
with open(path, "rb") as f:
    raw = f.read()
msg = email.message_from_bytes(raw, policy=email.policy.SMTP)
defects, parts = [], []
longest, encoded = max(len(l) for l in raw.split(b"\r\n")), 0
for part in msg.walk():
    defects += [type(d).__name__ for d in part.defects]
    for name, value in part.items():
        defects += ["%s in %s" % (type(d).__name__, name) for d in getattr(value, "defects", ())]
    if part.is_multipart():
        continue
    if part.get("Content-Transfer-Encoding", "").lower() in ("quoted-printable", "base64"):
        encoded = max([encoded] + [len(l) for l in part.get_payload().split("\r\n")])
    text = part.get_filename() is None and part.get_content_maintype() == "text"
    content = part.get_content() if text else ""
    with open("%s.%d" % (path, len(parts) + 1), "wb") as out:
        out.write(content.replace("\r\n", "\n").encode() if text else part.get_payload(decode=True))
    parts.append("part: %s; %s; %s" % (part.get_content_type(), part.get_content_charset(),
                                       part.get_filename()))
    if part.get_content_subtype() == "html":
        metas = re.findall(r"<meta[^>]*charset=[\"']?([\w.:-]+)", content, re.I)
        parts.append("meta: " + " ".join(m.lower() for m in metas))
print("defects: " + (", ".join(defects) or "none"))
print("lines: " + ("ok" if longest <= 998 and encoded <= 76 else "%d, %d" % (longest, encoded)))
print("\n".join(parts))
