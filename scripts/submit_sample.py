#!/usr/bin/env python3
"""Submits the sample form from a shell, as a browser would, with Python's standard library only.

    python3 scripts/submit_sample.py http://127.0.0.1:PORT/form.html [NAME] [ADDRESS]

Reads the form page, keeps its hidden fields, fills the visible ones with sample values (the
first check box ticked, a small text file attached), posts it to the form's action with the
form's encoding, and prints the answer's status and its first heading. Exits 1 when the gateway
does not answer 200. A form with the anti-spam widget gets its challenge solved first, as the
widget would (the older SHA-256 protocol, which the gateway also answers).
"""
import base64
import hashlib
import html.parser
import json
import re
import sys
import urllib.parse
import urllib.request
import uuid


class FormReader(html.parser.HTMLParser):
    """Collects the first form's action, encoding and fields."""

    def __init__(self):
        super().__init__()
        self.action = None
        self.enctype = "application/x-www-form-urlencoded"
        self.fields = []  # (name, kind, value)
        self.in_form = False
        self.widget = None  # the anti-spam widget's (challenge address, field name)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "form" and self.action is None:
            self.in_form = True
            self.action = a.get("action", "")
            self.enctype = a.get("enctype", self.enctype)
        elif self.in_form and tag in ("input", "textarea") and a.get("name"):
            kind = a.get("type", "text") if tag == "input" else "textarea"
            self.fields.append((a["name"], kind, a.get("value", "")))
        elif self.in_form and tag == "altcha-widget":
            self.widget = (a.get("challengeurl") or a.get("challenge", ""), a.get("name") or "altcha")

    def handle_endtag(self, tag):
        if tag == "form":
            self.in_form = False


def sample_values(fields, name, address):
    """The name/value pairs a visitor would send; ("file", name, bytes) for an upload."""
    ticked = set()
    for field, kind, value in fields:
        if kind in ("hidden", "submit"):
            yield field, value
        elif kind == "checkbox":
            if field not in ticked:  # the first box of each group
                ticked.add(field)
                yield field, value or "on"
        elif kind == "file":
            yield field, ("notes.txt", b"Sent from a shell.\n")
        elif kind == "email" or field == "mail_from":
            yield field, address
        elif field.endswith("req") or "name" in field:
            yield field, name
        else:
            yield field, "Sent from a shell"


def solve(challenge_url):
    """The widget's work: the number whose SHA-256 with the challenge's salt is the challenge."""
    separator = "&" if "?" in challenge_url else "?"
    with urllib.request.urlopen(challenge_url + separator + "protocol=1", timeout=30) as answer:
        challenge = json.load(answer)
    for number in range(int(challenge["maxnumber"]) + 1):
        if hashlib.sha256((challenge["salt"] + str(number)).encode()).hexdigest() == challenge["challenge"]:
            payload = {key: challenge[key] for key in ("algorithm", "challenge", "salt", "signature")}
            payload["number"] = number
            return base64.b64encode(json.dumps(payload).encode()).decode()
    sys.exit(f"no solution for the challenge from {challenge_url}")


def multipart(pairs):
    boundary = "----brevix" + uuid.uuid4().hex
    body = bytearray()
    for field, value in pairs:
        body += f"--{boundary}\r\n".encode()
        if isinstance(value, tuple):
            file_name, data = value
            body += (f'Content-Disposition: form-data; name="{field}"; filename="{file_name}"\r\n'
                     "Content-Type: text/plain\r\n\r\n").encode()
            body += data
        else:
            body += f'Content-Disposition: form-data; name="{field}"\r\n\r\n'.encode()
            body += value.encode("utf-8")
        body += b"\r\n"
    body += f"--{boundary}--\r\n".encode()
    return bytes(body), f"multipart/form-data; boundary={boundary}"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    form_url = sys.argv[1]
    name = sys.argv[2] if len(sys.argv) > 2 else "Sam Shell"
    address = sys.argv[3] if len(sys.argv) > 3 else "sam@example.org"

    reader = FormReader()
    with urllib.request.urlopen(form_url, timeout=30) as page:
        reader.feed(page.read().decode("utf-8", "replace"))
    if reader.action is None:
        sys.exit(f"no form on {form_url}")
    pairs = list(sample_values(reader.fields, name, address))
    if reader.widget:
        challenge_url, field = reader.widget
        pairs.append((field, solve(urllib.parse.urljoin(form_url, challenge_url))))
    if reader.enctype.lower() == "multipart/form-data":
        body, content_type = multipart(pairs)
    else:
        body = urllib.parse.urlencode([(f, v[0] if isinstance(v, tuple) else v)
                                       for f, v in pairs]).encode()
        content_type = "application/x-www-form-urlencoded"

    target = urllib.parse.urljoin(form_url, reader.action)
    request = urllib.request.Request(target, data=body, headers={"Content-Type": content_type})
    try:
        with urllib.request.urlopen(request, timeout=120) as answer:
            status, text = answer.status, answer.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as error:
        status, text = error.code, error.read().decode("utf-8", "replace")
    heading = re.search(r"<h1[^>]*>(.*?)</h1>", text, re.S | re.I)
    shown = re.sub(r"<[^>]+>", "", heading.group(1)).strip() if heading else text[:200]
    print(f"{target} answered {status}: {html.unescape(shown)}")
    sys.exit(0 if status == 200 else 1)


if __name__ == "__main__":
    main()
