#!/usr/bin/env python3
"""Runs the same submissions through two builds of brevix.cgi and compares what comes out.

    python3 scripts/compare_builds.py BEFORE_CGI AFTER_CGI [--keep] [--dump DIR]
                                      [--only TEXT]... [--with-deliberate]

For example, with the two builds side by side:
    python3 scripts/compare_builds.py ../wt-before/build/bin/brevix.cgi build/bin/brevix.cgi

For each program the script lays out a fresh folder (a copy of the program as brevix.cgi beside
the sample site's brevix.ini, templates and pages from deploy/sample/cgi-bin), with the mail
going to a small SMTP server the script runs itself on 127.0.0.1 (it records each transaction's
HELO/EHLO, MAIL FROM, RCPT TO and DATA; recipients at refused.example are refused with 550) and
PoW_Key empty. Then it runs, one after the other and in the same order for both programs, the
benchmark's submission (bench/submissions.py) and a set like the end-to-end tests'
(tests/e2e/submit.test.mjs) as CGI requests: the request in environment variables, the body on
standard input, the gateway's folder as the working directory.

Per submission it compares the CGI answer (exit status, headers and body, standard error), every
mail (envelope and DATA) and every file the gateway created, changed or removed in its folder
(for a file that only grew, what was appended). Before comparing it replaces only what must
differ between two runs: dates and times, Message-IDs, MIME boundaries, the random automatic
results-file names, the time stamps in the BX-*.txt state files, the engine log's random
request number and the folder's own path.

Prints PASS, or the unified diff of each submission that differs, and exits 0 on PASS, 1 on a
difference, 2 on a usage error. --keep leaves the two folders (their path is printed); --dump
writes each submission's normalised outcome, one file per program and submission; --only runs
only the submissions whose name contains TEXT (without the ones before them, so their reference
numbers and hourly counts differ from a full run's, the same for both programs);
--with-deliberate adds the submissions whose outcome was changed on purpose (an automatic
results-file name whose every draw was taken), to show that the comparison sees such a change.
Standard library only.
"""
import argparse
import base64
import difflib
import json
import os
import re
import shutil
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE = os.path.join(REPO, "deploy", "sample", "cgi-bin")
# The web server the requests pretend to come through (nothing listens there).
HOST, PORT = "127.0.0.1", 8731
SITE = f"http://{HOST}:{PORT}"
FORM_PAGE = f"{SITE}/form.html"
OTHER_SITE = "http://127.0.0.1:9342"  # a page on another origin, allowed where the case says so
STRANGER = "http://127.0.0.1:9911"  # an origin no case allows
RUN_SECONDS = 120

# ---------------------------------------------------------------------------------------------
# The SMTP capture server


class Capture:
    """The transactions the SMTP server has received, and its open connections."""

    def __init__(self):
        self.lock = threading.Lock()
        self.transactions = []
        self.open_connections = 0

    def take(self):
        with self.lock:
            taken, self.transactions = self.transactions, []
        return taken

    def wait_idle(self, seconds=10):
        """Waits until no client is connected (the gateway closes before it exits)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            with self.lock:
                if self.open_connections == 0:
                    return
            time.sleep(0.02)


class SmtpHandler(socketserver.StreamRequestHandler):
    """One SMTP session: plain ESMTP without extensions that would change what a client sends."""

    def reply(self, text):
        self.wfile.write(text.encode() + b"\r\n")
        self.wfile.flush()

    def give_up(self, envelope):
        """A transaction given up (RSET, QUIT) is kept when it had refusals: they still count."""
        if envelope is not None and envelope["refused"]:
            capture = self.server.capture
            with capture.lock:
                capture.transactions.append(dict(envelope, data=None))

    def handle(self):
        capture = self.server.capture
        with capture.lock:
            capture.open_connections += 1
        try:
            self.session(capture)
        except (ConnectionError, OSError):
            pass
        finally:
            with capture.lock:
                capture.open_connections -= 1

    def session(self, capture):
        self.reply("220 capture.test ESMTP")
        helo, envelope = "", None
        while True:
            line = self.rfile.readline()
            if not line:
                return
            command = line.rstrip(b"\r\n").decode("utf-8", "surrogateescape")
            verb = command[:4].upper()
            if verb in ("EHLO", "HELO"):
                helo, envelope = command, None
                self.reply("250-capture.test\r\n250-8BITMIME\r\n250 SIZE 10485760"
                           if verb == "EHLO" else "250 capture.test")
            elif verb == "MAIL":
                envelope = {"helo": helo, "mail": command, "rcpt": [], "refused": []}
                self.reply("250 OK")
            elif verb == "RCPT" and envelope is not None:
                if "@refused.example" in command.lower():
                    envelope["refused"].append(command)
                    self.reply("550 5.1.1 No such user here")
                else:
                    envelope["rcpt"].append(command)
                    self.reply("250 OK")
            elif verb == "DATA" and envelope is not None and envelope["rcpt"]:
                self.reply("354 End data with <CR><LF>.<CR><LF>")
                data = bytearray()
                while True:
                    chunk = self.rfile.readline()
                    if not chunk:
                        return
                    if chunk == b".\r\n":
                        break
                    data += chunk[1:] if chunk.startswith(b".") else chunk
                envelope["data"] = bytes(data)
                with capture.lock:
                    capture.transactions.append(envelope)
                envelope = None
                self.reply("250 OK queued")
            elif verb == "DATA":
                self.reply("503 5.5.1 No valid recipients")
            elif verb == "RSET":
                self.give_up(envelope)
                envelope = None
                self.reply("250 OK")
            elif verb == "NOOP":
                self.reply("250 OK")
            elif verb == "QUIT":
                self.give_up(envelope)
                self.reply("221 Bye")
                return
            else:
                self.reply("502 5.5.2 Command not implemented")


class SmtpServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), SmtpHandler)
        self.capture = Capture()


# ---------------------------------------------------------------------------------------------
# The submissions


def form_urlencoded(pairs):
    return urllib.parse.urlencode(pairs).encode()


def multipart(pairs, boundary="----compareBoundaryQ8xW2mZk"):
    """pairs: (name, value) or (name, (file name, content type, bytes))."""
    out = bytearray()
    for name, value in pairs:
        out += f"--{boundary}\r\n".encode()
        if isinstance(value, tuple):
            filename, ctype, data = value
            out += (f'Content-Disposition: form-data; name="{name}"; filename="{filename}"\r\n'
                    f"Content-Type: {ctype}\r\n\r\n").encode() + data + b"\r\n"
        else:
            out += f'Content-Disposition: form-data; name="{name}"\r\n\r\n'.encode()
            out += value.encode() + b"\r\n"
    out += f"--{boundary}--\r\n".encode()
    return f"multipart/form-data; boundary={boundary}", bytes(out)


def browser_env(remote, method="POST", ctype=None, body=b"", query="", extra=None):
    """The variables a web server (lighttpd, Apache) gives a CGI program for one request."""
    env = {
        "GATEWAY_INTERFACE": "CGI/1.1",
        "SERVER_SOFTWARE": "lighttpd/1.4.69",
        "SERVER_PROTOCOL": "HTTP/1.1",
        "SERVER_NAME": HOST,
        "SERVER_ADDR": HOST,
        "SERVER_PORT": str(PORT),
        "REQUEST_METHOD": method,
        "REQUEST_URI": "/cgi-bin/brevix.cgi" + (f"?{query}" if query else ""),
        "SCRIPT_NAME": "/cgi-bin/brevix.cgi",
        "QUERY_STRING": query,
        "REMOTE_ADDR": remote,
        "REMOTE_PORT": "51234",
        "HTTP_HOST": f"{HOST}:{PORT}",
        "HTTP_USER_AGENT": "Mozilla/5.0 (X11; Linux x86_64) Chrome/120.0 Safari/537.36",
        "HTTP_ACCEPT": "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
        "HTTP_ACCEPT_LANGUAGE": "en-US,en;q=0.9",
        "HTTP_REFERER": FORM_PAGE,
    }
    if method in ("POST", "PUT"):
        env["CONTENT_LENGTH"] = str(len(body))
        if ctype:
            env["CONTENT_TYPE"] = ctype
    env.update(extra or {})
    return {k: v for k, v in env.items() if v is not None}


class Case:
    def __init__(self, name, env, body=b"", ini=None, argv=(), prepare=None):
        self.name, self.env, self.body = name, env, body
        self.ini = ini or {}  # brevix.ini keys set for this submission only
        self.argv = list(argv)  # what Apache passes for a query string without "="
        self.prepare = prepare  # called with the folder before the submission


def post(name, remote, pairs, ini=None, extra=None, encoding="urlencoded", prepare=None):
    if encoding == "multipart":
        ctype, body = multipart(pairs)
    else:
        ctype, body = "application/x-www-form-urlencoded", form_urlencoded(pairs)
    return Case(name, browser_env(remote, "POST", ctype, body, extra=extra), body, ini,
                prepare=prepare)


def take_every_auto_name(folder):
    """Creates every automatic results-file name of the next few seconds, as a crowd of
    submissions in those seconds would, so that each name the gateway draws is taken."""
    now = time.time()
    for second in range(-1, 20):
        stamp = time.strftime("%m%d%H%M%S", time.localtime(now + second))
        for n in range(100):
            with open(os.path.join(folder, f"{stamp}{n}.csv"), "wb") as f:
                f.write(b"another submission's record\r\n")


def edit_ini(append=b"", replace=()):
    """A prepare step that edits brevix.ini as a site owner's hand might."""

    def edit(folder):
        ini = os.path.join(folder, "brevix.ini")
        with open(ini, "rb") as f:
            text = f.read()
        for old, new in replace:
            text = text.replace(old, new)
        with open(ini, "wb") as f:
            f.write(text + append)

    return edit


def deliberate_cases():
    """Submissions whose outcome the refactoring changed on purpose (--with-deliberate): they
    show that the comparison sees such a change."""
    return [post("automatic results-file name with every name taken (changed on purpose)",
                 "192.0.2.50", [("namereq", "Crowded"), ("mail_from", "crowded@example.org")],
                 {"Results_File": "\\auto.csv", "Receipt_Text": ""},
                 prepare=take_every_auto_name)]


def cases(dead_smtp_port):
    subject = ("mail_subject", "Brochure request from %namereq%")
    upload = bytes([0]) + bytes((i * 131 + 7) % 256 for i in range(1, 3000))
    json_body = json.dumps({"namereq": "Jonas Json", "mail_from": "jonas@example.org"}).encode()
    own_origin = f"http://{HOST}:{PORT}"
    allowed = {"Allowed_Origins": f"https://elsewhere.example, {OTHER_SITE}"}
    script = {"HTTP_ORIGIN": OTHER_SITE, "HTTP_REFERER": f"{OTHER_SITE}/form.html",
              "HTTP_ACCEPT": "application/json", "HTTP_SEC_FETCH_MODE": "cors"}
    bench_fields = ("mail_subject=Brochure+request+from+%25namereq%25&namereq=Anna+M%C3%BCller"
                    "&mail_from=anna%40example.org&company=Example+Ltd&interests=Printed+brochure"
                    "&interests=Newsletter&comments=Please+send+me+the+brochure.").encode()
    bench_env = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_SOFTWARE": "bench",
                 "REQUEST_METHOD": "POST", "SCRIPT_NAME": "/cgi-bin/brevix.cgi",
                 "REMOTE_ADDR": "127.0.0.1", "CONTENT_TYPE": "application/x-www-form-urlencoded",
                 "CONTENT_LENGTH": str(len(bench_fields))}
    gets = [Case(f"e2e: GET ?{q}" if q else "e2e: GET without a query",
                 browser_env("192.0.2.30", "GET", query=q),
                 argv=[urllib.parse.unquote_plus(w) for w in q.split("+")] if q and "=" not in q
                 else ()) for q in ("", "results.csv", "brevix.ini", "$$START_SERVER+X")]
    return [
        # bench/submissions.py: its body and environment, the receipt off as there.
        Case("bench: url-encoded post (bench environment)", bench_env, bench_fields,
             {"Receipt_Text": ""}),
        Case("bench: url-encoded post through a web server",
             browser_env("127.0.0.1", "POST", "application/x-www-form-urlencoded", bench_fields),
             bench_fields, {"Receipt_Text": ""}),
        post("e2e: complete multipart post with an upload, receipt to the visitor", "192.0.2.10",
             [subject, ("namereq", "Anna Müller"), ("mail_from", "anna@example.org"),
              ("company", "Müller & Söhne <b>GmbH</b>"), ("interests", "Printed brochure"),
              ("interests", "A call back"), ("comments", "Please send two copies."),
              ("file", ("brochure-notes.bin", "application/octet-stream", upload))],
             encoding="multipart"),
        post("e2e: multipart post without the required name", "192.0.2.11",
             [subject, ("namereq", ""), ("mail_from", "bert@example.org"),
              ("interests", "Newsletter"), ("comments", ""),
              ("file", ("", "application/octet-stream", b""))], encoding="multipart"),
        *gets,
        Case("e2e: preflight OPTIONS from an allowed origin",
             browser_env("192.0.2.12", "OPTIONS", extra={
                 "HTTP_ORIGIN": OTHER_SITE, "HTTP_ACCESS_CONTROL_REQUEST_METHOD": "POST",
                 "HTTP_ACCESS_CONTROL_REQUEST_HEADERS": "content-type",
                 "HTTP_REFERER": f"{OTHER_SITE}/form.html"}), ini=allowed),
        Case("e2e: preflight OPTIONS from an origin not allowed",
             browser_env("192.0.2.12", "OPTIONS", extra={
                 "HTTP_ORIGIN": STRANGER, "HTTP_ACCESS_CONTROL_REQUEST_METHOD": "POST"}),
             ini=allowed),
        post("e2e: script post from an allowed origin, nothing filled in", "192.0.2.13",
             [subject, ("namereq", ""), ("mail_from", ""), ("interests", "")],
             allowed, script, "multipart"),
        post("e2e: script post from an allowed origin with an upload", "192.0.2.13",
             [subject, ("namereq", "Carla Script"), ("mail_from", "carla@example.org"),
              ("file", ("script-notes.txt", "text/plain", b"notes for the script post\n"))],
             allowed, script, "multipart"),
        Case("e2e: JSON post with Accept: application/json from an allowed origin",
             browser_env("192.0.2.14", "POST", "application/json", json_body,
                         extra=dict(script, HTTP_ACCEPT="*/*")), json_body, allowed),
        Case("JSON post with Accept: application/json, same site",
             browser_env("192.0.2.15", "POST", "application/json", json_body,
                         extra={"HTTP_ACCEPT": "application/json", "HTTP_ORIGIN": own_origin}),
             json_body),
        post("e2e: post from an origin not allowed", "192.0.2.16",
             [subject, ("namereq", "Dora Elsewhere"), ("mail_from", "dora@example.org")],
             allowed, dict(script, HTTP_ORIGIN=STRANGER), "multipart"),
        post("e2e: post from the gateway's own origin", "192.0.2.17",
             [subject, ("namereq", "Emil Samesite"), ("mail_from", "emil@example.org")],
             allowed, {"HTTP_ORIGIN": own_origin}, "multipart"),
        post("e2e: upload with a text file (fetch FormData)", "192.0.2.18",
             [("namereq", "Uploader 0-0"), ("mail_from", "uploader@example.org"),
              ("file", ("notes.txt", "application/octet-stream", b"x" * 2000))],
             encoding="multipart"),
        post("e2e: url-encoded post (server-mode visitor)", "192.0.2.19",
             [("namereq", "Patient visitor"), ("mail_from", "patient@example.org")]),
        post("url-encoded post with a JSON answer asked by _format", "192.0.2.20",
             [("namereq", "Fritz Format"), ("mail_from", "fritz@example.org"),
              ("_format", "json")]),
        post("refused recipient: mail_to outside the allowed recipients", "192.0.2.21",
             [subject, ("namereq", "Mallory"), ("mail_from", "mallory@example.org"),
              ("mail_to", "victim@elsewhere.example")]),
        post("refused recipient, JSON answer", "192.0.2.21",
             [("namereq", "Mallory"), ("mail_from", "mallory@example.org"),
              ("mail_bcc", "a@elsewhere.example,b@elsewhere.example")],
             extra={"HTTP_ACCEPT": "application/json"}),
        post("hostile field: header injection in the subject and the sender", "192.0.2.22",
             [("mail_subject", "Hello\r\nBcc: victim@elsewhere.example"),
              ("namereq", "Eve\r\nX-Evil: 1"),
              ("mail_from", "eve@example.org\r\nBcc: victim@elsewhere.example")]),
        post("hostile field: a sender without a domain (mail_from=bob)", "192.0.2.23",
             [("namereq", "Bob"), ("mail_from", "bob")]),
        post("hostile field: file names and server from the form", "192.0.2.24",
             [("namereq", "Ivan"), ("mail_from", "ivan@example.org"),
              ("results_file", "../../etc/passwd"), ("message_text", "/etc/passwd"),
              ("response_page", "brevix.ini"), ("smtp_server", "192.0.2.99")]),
        post("hostile field: markup and macros in the values", "192.0.2.25",
             [subject, ("namereq", "<script>alert(1)</script>%mail_from%"),
              ("mail_from", "x@example.org"), ("company", "\"quoted\",%comments%"),
              ("comments", "line one\r\nline two\r\n.\r\nafter a dot line")]),
        post("the SMTP server refuses the visitor's address (receipt)", "192.0.2.26",
             [subject, ("namereq", "Rita Refused"), ("mail_from", "rita@refused.example")]),
        post("the SMTP server refuses the only recipient", "192.0.2.27",
             [("namereq", "Otto"), ("mail_from", "otto@example.org")],
             {"Mail_To": "owner@refused.example"}),
        post("no SMTP server listens", "192.0.2.28",
             [("namereq", "Nora"), ("mail_from", "nora@example.org")],
             {"SMTP_Port": str(dead_smtp_port)}),
        post("no SMTP server listens, JSON answer", "192.0.2.28",
             [("namereq", "Nora"), ("mail_from", "nora@example.org")],
             {"SMTP_Port": str(dead_smtp_port)}, {"HTTP_ACCEPT": "application/json"}),
        Case("over-size body", browser_env(
            "192.0.2.31", "POST", "application/x-www-form-urlencoded", b"a=" + b"x" * 150000),
            b"a=" + b"x" * 150000),
        Case("over-size body, JSON answer", browser_env(
            "192.0.2.31", "POST", "application/x-www-form-urlencoded", b"a=" + b"x" * 150000,
            extra={"HTTP_ACCEPT": "application/json"}), b"a=" + b"x" * 150000),
        Case("body shorter than CONTENT_LENGTH", dict(browser_env(
            "192.0.2.32", "POST", "application/x-www-form-urlencoded", b"namereq=Short"),
            CONTENT_LENGTH="500"), b"namereq=Short"),
        Case("GET submission where GET may send", browser_env(
            "192.0.2.33", "GET", query="namereq=Gustav+Get&mail_from=gustav%40example.org"
            "&mail_subject=Via+GET"), ini={"Allowed_Methods": "GET,POST"}),
        Case("GET submission where only POST may send", browser_env(
            "192.0.2.33", "GET", query="namereq=Gustav+Get&mail_from=gustav%40example.org")),
        Case("proof-of-work challenge without a key", browser_env(
            "192.0.2.34", "GET", query="pow=challenge",
            extra={"HTTP_ACCEPT": "application/json"})),
        post("honeypot filled", "192.0.2.35",
             [("namereq", "Spam Bot"), ("mail_from", "bot@example.org"), ("website", "http://x")],
             {"Honeypot_Field": "website"}),
        post("automatic message (no template) in the HTML layout", "192.0.2.36",
             [subject, ("namereq", "Auto Layout"), ("mail_from", "auto@example.org"),
              ("company", "A & B"), ("interests", "Newsletter"), ("interests", "A call back")],
             {"Message_Text": ""}),
        post("automatic message in the text layout, generated CSV results", "192.0.2.37",
             [("namereq", "Text Layout"), ("mail_from", "text@example.org"),
              ("comments", "two\nlines")],
             {"Message_Text": "", "Default_Format": "BXText", "Results_File_Template": "",
              "Results_File": "generated.csv"}),
        post("automatic results-file name", "192.0.2.38",
             [("namereq", "Auto Name"), ("mail_from", "autoname@example.org"),
              ("attached_file", "%results_file%")],
             {"Results_File": "\\auto.csv"}),
        post("built-in pages (no page files)", "192.0.2.39",
             [("namereq", "Plain Pages"), ("mail_from", "plain@example.org")],
             {"Response_Page": "", "Error_Page": "", "Info_Missing_Page": ""}),
        post("built-in missing-information page", "192.0.2.39",
             [("mail_from", "plain@example.org")],
             {"Response_Page": "", "Error_Page": "", "Info_Missing_Page": ""}),
        *[post(f"receipt limit: receipt {i} to the same visitor", "192.0.2.40",
               [("namereq", f"Repeat {i}"), ("mail_from", "repeat@example.org")])
          for i in range(1, 7)],
        post("submission limit reached", "192.0.2.41",
             [("namereq", "Limited"), ("mail_from", "limited@example.org")],
             {"Max_Per_Hour": "1"}),
        post("submission limit reached (second)", "192.0.2.41",
             [("namereq", "Limited"), ("mail_from", "limited@example.org")],
             {"Max_Per_Hour": "1"}),
        post("settings: a key given twice, keys in another section", "192.0.2.43",
             [("namereq", "Twice"), ("mail_from", "twice@example.org")],
             prepare=edit_ini(b"\r\nMail_Subject=The later subject\r\n"
                              b"[Other]\r\nMail_To=other@localhost\r\nResponse_Page=\r\n")),
        post("settings: keys in other cases, a value with blanks around", "192.0.2.44",
             [("namereq", "Casing"), ("mail_from", "casing@example.org")],
             prepare=edit_ini(replace=((b"Mail_Subject=Brochure request",
                                        b"MAIL_SUBJECT =  Upper-case key  "),
                                       (b"Results_File=results.csv", b"results_file=lower.csv")))),
        post("form: field names in other cases", "192.0.2.45",
             [("NameReq", "Field Case"), ("MAIL_FROM", "fieldcase@example.org"),
              ("Mail_Subject", "Subject from %NAMEREQ%")]),
        post("CC, BCC and a separate sender", "192.0.2.42",
             [("namereq", "Copy"), ("mail_from", "copy@example.org")],
             {"Mail_CC": "cc@localhost", "Mail_BCC": "bcc@localhost",
              "Mail_Sender": "forms@localhost", "Receipt_From": "forms@localhost"}),
    ]


# ---------------------------------------------------------------------------------------------
# Running one program


def set_ini(folder, values):
    """Sets keys of brevix.ini's [Options] section, keeping its CR LF line ends."""
    ini = os.path.join(folder, "brevix.ini")
    with open(ini, "rb") as f:
        lines = f.read().split(b"\r\n")
    for key, value in values.items():
        line = f"{key}={value}".encode()
        prefix = key.lower().encode() + b"="
        at = [i for i, old in enumerate(lines) if old.lower().startswith(prefix)]
        if at:
            lines[at[0]] = line
        else:
            lines.insert(lines.index(b"[Options]") + 1, line)
    with open(ini, "wb") as f:
        f.write(b"\r\n".join(lines))


def snapshot(folder):
    """{path relative to the folder: content} of every file below it."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, folder)
            try:
                with open(path, "rb") as f:
                    files[rel] = f.read()
            except OSError as error:
                files[rel] = f"<unreadable: {error.strerror}>".encode()
    return files


def file_changes(before, after):
    """{path: what changed} for each file created, changed or removed: a file that only grew
    shows what was appended, so a difference in one submission is not repeated in the next."""
    changes = {}
    for path in sorted(set(before) | set(after)):
        old, new = before.get(path), after.get(path)
        if old == new:
            continue
        if new is None:
            changes[path] = b"<removed>"
        elif old is None:
            changes[path] = b"<created>\n" + new
        elif new.startswith(old):
            changes[path] = b"<appended>\n" + new[len(old):]
        else:
            changes[path] = b"<rewritten>\n" + new
    return changes


def stop_request_server(folder):
    """A request server a case started by mistake: stopped, so nothing outlives the run."""
    marker = os.path.join(folder, "Temp", "brevix.cgi_s")
    try:
        with open(marker) as f:
            pid = int(f.read().split()[0])
        os.kill(pid, 15)
    except (OSError, ValueError, IndexError):
        pass


def run_program(program, work, label, smtp, case_list):
    """Runs every case through `program` in a fresh folder; returns {case name: raw outcome}."""
    folder = os.path.join(work, label, "cgi-bin")
    shutil.copytree(SAMPLE, folder)
    shutil.copy2(program, os.path.join(folder, "brevix.cgi"))
    os.chmod(os.path.join(folder, "brevix.cgi"), 0o755)
    base_ini = {"SMTP_Server": "127.0.0.1", "SMTP_Port": str(smtp.server_address[1]),
                "PoW_Key": ""}
    set_ini(folder, base_ini)
    with open(os.path.join(folder, "brevix.ini"), "rb") as f:
        ini_text = f.read()
    outcomes = {}
    for case in case_list:
        if case.ini:
            set_ini(folder, case.ini)
        if case.prepare:
            case.prepare(folder)
        before = snapshot(folder)
        smtp.capture.take()
        env = {"PATH": "/usr/local/bin:/usr/bin:/bin"}
        if "TZ" in os.environ:
            env["TZ"] = os.environ["TZ"]
        env.update(case.env)
        try:
            done = subprocess.run([os.path.join(folder, "brevix.cgi")] + case.argv, input=case.body,
                                  env=env, cwd=folder, capture_output=True, timeout=RUN_SECONDS)
            answer = (f"exit status {done.returncode}\n".encode(), done.stdout, done.stderr)
        except subprocess.TimeoutExpired as expired:
            answer = (f"no answer within {RUN_SECONDS} s\n".encode(), expired.stdout or b"",
                      expired.stderr or b"")
        smtp.capture.wait_idle()
        time.sleep(0.05)
        mails = smtp.capture.take()
        stop_request_server(folder)
        changes = file_changes(before, snapshot(folder))
        if case.ini or case.prepare:  # back to the site's own settings
            with open(os.path.join(folder, "brevix.ini"), "wb") as f:
                f.write(ini_text)
        outcomes[case.name] = {"answer": answer, "mails": mails, "files": changes,
                               "folder": folder}
    return outcomes


# ---------------------------------------------------------------------------------------------
# Normalising and comparing

MONTHS = "Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec"
DAYS = "Mon|Tue|Wed|Thu|Fri|Sat|Sun"
PATTERNS = [
    # RFC 5322 / HTTP dates: "Tue, 08 Dec 2026 17:02:47 +0000", "Tue, 08 Dec 2026 17:02:47 GMT"
    (re.compile(rf"(?:(?:{DAYS}), )?\d{{1,2}} (?:{MONTHS}) \d{{4}} \d\d:\d\d:\d\d"
                rf"(?: [+-]\d{{4}}| GMT)?"), "<DATE-TIME>"),
    (re.compile(r"(?i)(Message-ID:[ \t]*)<[^>\r\n]*>"), r"\1<MESSAGE-ID>"),
    (re.compile(r"=_bx[0-9a-f]{32}"), "<BOUNDARY>"),
    (re.compile(r"\b\d{4}-\d\d-\d\d(?:[T ]\d\d:\d\d:\d\d(?:\.\d+)?(?:Z|[+-]\d\d:?\d\d)?)?"),
     "<DATE>"),
    (re.compile(r"\b\d{1,2}/\d{1,2}/\d{2,4}\b|\b\d{1,2}\.\d{1,2}\.\d{4}\b"), "<DATE>"),
    (re.compile(r"\b\d{1,2}:\d\d(?::\d\d)?(?:\.\d+)?(?: ?[AaPp][Mm])?\b"), "<TIME>"),
]
# The engine log's request number, drawn at random for each request.
REQUEST_NUMBER = re.compile(r"^(<DATE> <TIME>,\s+)\d+ :", re.M)
BASE64_PART = re.compile(rb"(Content-Transfer-Encoding:[ \t]*base64\r\n(?:[^\r\n]+\r\n)*\r\n)"
                         rb"((?:[A-Za-z0-9+/=]+\r\n)+)", re.I)
AUTO_NAME = re.compile(r"\b\d{10}\d{1,2}(?=\.(?:csv|txt|htm|html|log)\b)", re.I)
EPOCH = re.compile(r"\b1\d{9}\b")


def expand_base64(data):
    """Each base64 text part of a mail decoded, so a date inside an attachment can be normalised;
    the lengths of its encoded lines are kept, so the encoding still compares too."""

    def expand(found):
        encoded = found.group(2).split(b"\r\n")[:-1]
        lengths = {}
        for line in encoded:
            lengths[len(line)] = lengths.get(len(line), 0) + 1
        shape = ", ".join(f"{n} of {length}" for length, n in lengths.items())
        try:
            decoded = base64.b64decode(b"".join(encoded), validate=True)
            decoded.decode("utf-8")
        except ValueError:
            return found.group(0)
        if re.search(rb"[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]", decoded):
            return found.group(0)  # binary: no date inside, and unreadable decoded
        return (found.group(1) + f"<base64 lines: {shape}; decoded:>\n".encode() + decoded +
                b"\n<end of base64>\r\n")

    return BASE64_PART.sub(expand, data)


def normalise(data, folder, auto_names, state_file=False):
    text = data.decode("utf-8", "surrogateescape")
    text = text.replace(folder, "<FOLDER>")
    for name, mark in auto_names.items():
        text = text.replace(name, mark)
    # Boundaries other than the gateway's own pattern: each declared one by its order.
    for i, boundary in enumerate(dict.fromkeys(re.findall(r'boundary="?([^";\r\n]+)"?', text))):
        if not boundary.startswith("----compare") and "<BOUNDARY>" not in boundary:
            text = text.replace(boundary, f"<BOUNDARY-{i + 1}>")
    text = AUTO_NAME.sub("<AUTO-NAME>", text)  # one drawn but not created (every one taken)
    for pattern, mark in PATTERNS:
        text = pattern.sub(mark, text)
    text = REQUEST_NUMBER.sub(r"\1<REQUEST-NUMBER> :", text)
    if state_file:
        text = EPOCH.sub("<EPOCH>", text)
    return text


def auto_names_of(outcome):
    """The automatic results-file names the gateway drew for one case, each with its mark."""
    names = {}
    for path in outcome["files"]:
        base = os.path.basename(path)
        found = AUTO_NAME.match(base)
        if found and base not in names:
            names[found.group(0)] = f"<AUTO-NAME-{len(names) + 1}>"
    return names


def render(outcome):
    """The outcome of one case as text, normalised; CRs shown, so line ends compare too."""
    folder = outcome["folder"]
    auto = auto_names_of(outcome)
    status, stdout, stderr = outcome["answer"]
    parts = ["## answer: " + status.decode().strip(), normalise(stdout, folder, auto)]
    if stderr:
        parts += ["## standard error", normalise(stderr, folder, auto)]
    for i, mail in enumerate(outcome["mails"], 1):
        parts += [f"## mail {i}: {normalise(mail['helo'].encode(), folder, auto)}",
                  mail["mail"], *mail["rcpt"], *[f"(refused) {r}" for r in mail["refused"]],
                  "## DATA" if mail["data"] is not None else "## no DATA (every recipient refused)",
                  normalise(expand_base64(mail["data"] or b""), folder, auto)]
    for path, data in outcome["files"].items():
        name = normalise(path.encode(), folder, auto)
        state = os.path.basename(path).startswith("BX-")
        parts += [f"## file {name}", normalise(data, folder, auto, state)]
    text = "\n".join(parts)
    return [line + "\n" for line in text.replace("\r", "\\r").split("\n")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("before", help="the first brevix.cgi")
    parser.add_argument("after", help="the second brevix.cgi")
    parser.add_argument("--keep", action="store_true", help="keep the two folders")
    parser.add_argument("--only", action="append", metavar="TEXT",
                        help="run only the submissions whose name contains TEXT")
    parser.add_argument("--with-deliberate", action="store_true",
                        help="also run the submissions the refactoring changed on purpose")
    parser.add_argument("--dump", metavar="DIR",
                        help="also write each case's normalised outcome to DIR/before, DIR/after")
    args = parser.parse_args()
    sys.stdout.reconfigure(errors="backslashreplace")
    for program in (args.before, args.after):
        if not os.access(program, os.X_OK):
            parser.error(f"not an executable program: {program}")

    # A port nothing listens on, for the cases without a mail server.
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    dead_port = probe.getsockname()[1]
    probe.close()
    case_list = cases(dead_port) + (deliberate_cases() if args.with_deliberate else [])
    if args.only:
        case_list = [c for c in case_list if any(text in c.name for text in args.only)]

    work = tempfile.mkdtemp(prefix="brevix-compare-")
    smtp = SmtpServer()
    threading.Thread(target=smtp.serve_forever, daemon=True).start()
    try:
        results = [run_program(program, work, label, smtp, case_list)
                   for program, label in ((args.before, "a"), (args.after, "b"))]
    finally:
        smtp.shutdown()
        smtp.server_close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    differing = 0
    for number, case in enumerate(case_list, 1):
        left, right = (render(r[case.name]) for r in results)
        if args.dump:
            for side, lines in (("before", left), ("after", right)):
                os.makedirs(os.path.join(args.dump, side), exist_ok=True)
                name = re.sub(r"[^A-Za-z0-9]+", "-", case.name).strip("-")[:60]
                with open(os.path.join(args.dump, side, f"{number:02d}-{name}.txt"), "w",
                          errors="backslashreplace") as f:
                    f.writelines(lines)
        if left == right:
            print(f"same    {case.name}")
            continue
        differing += 1
        print(f"DIFFERS {case.name}")
        sys.stdout.writelines(difflib.unified_diff(left, right, "before", "after", n=4))
    print(f"\n{len(case_list)} submissions, {differing} differ")
    if args.keep:
        print(f"folders kept: {work}/a/cgi-bin and {work}/b/cgi-bin")
    print("PASS" if differing == 0 else "FAIL")
    return 0 if differing == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
