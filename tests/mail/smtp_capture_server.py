"""A real SMTP server for the tests: aiosmtpd on 127.0.0.1, on a free port.

Usage: smtp_capture_server.py FOLDER [--host ADDRESS] [--port PORT] [--cert FILE --key FILE]
                               [--tls starttls|implicit] [--user NAME --password SECRET]
                               [--mechanisms PLAIN,LOGIN] [--sender-is-login]

--host: the address to listen on (127.0.0.1 when not given; "::1" for IPv6).
--port: the port to listen on (a free one when not given; a given one lets a test stop the
server and start it again where its client expects it).
--tls starttls: offers STARTTLS with the certificate; implicit: TLS from the first byte.
--user/--password: offers AUTH (the listed mechanisms; also over plain text, so that a test can
see whether a client sends a password there) and refuses MAIL FROM before a login with
"530 5.7.0 Authentication required".
--mechanisms: the AUTH mechanisms offered (PLAIN,LOGIN when not given; "" offers none).
--sender-is-login: as providers do, refuses a MAIL FROM other than the --user name with
"553 5.7.1 Sender address rejected: not owned by user".

Prints the port it listens on as one line on standard output, then serves until it is
terminated. Every accepted message is written to FOLDER as N.eml (the raw bytes the server
received after the end-of-data line, dot-unstuffed) and N.env (the envelope: "from" line, then
one "to" line per recipient), N counting from 1; the .eml file appears last and whole (written
under a temporary name, then renamed). Everything a client sends is appended to
FOLDER/dialogue.log as it arrives. While the file FOLDER/hold exists, MAIL FROM is answered
only once it is gone: a mail server that holds new transactions back, while those past MAIL FROM
go on to their end.
"""

import argparse
import asyncio
import logging
import os
import signal
import ssl
import warnings

from aiosmtpd.smtp import SMTP, AuthResult


class CaptureHandler:
    def __init__(self, folder, login=None):
        self.folder = folder
        self.count = 0
        self.login = login

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        while os.path.exists(os.path.join(self.folder, "hold")):
            await asyncio.sleep(0.02)
        if self.login is not None and address.lower() != self.login.lower():
            return "553 5.7.1 Sender address rejected: not owned by user"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".env", "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write("from " + str(envelope.mail_from) + "\n")
            for rcpt in envelope.rcpt_tos:
                f.write("to " + rcpt + "\n")
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content or b"")
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted for delivery"


class LoggingSMTP(SMTP):
    """Keeps every byte the client sends in the dialogue log."""

    def __init__(self, handler, folder, **kwargs):
        super().__init__(handler, **kwargs)
        self._log_path = os.path.join(folder, "dialogue.log")

    def data_received(self, data):
        with open(self._log_path, "ab") as f:
            f.write(data)
        super().data_received(data)


def authenticator(user, password):
    def check(server, session, envelope, mechanism, auth_data):
        # handled=False: the server itself answers 235 or 535.
        return AuthResult(success=auth_data.login == user.encode()
                          and auth_data.password == password.encode(), handled=False)
    return check


async def main(args):
    folder = args.folder
    handler = CaptureHandler(folder, args.user if args.sender_is_login else None)
    loop = asyncio.get_running_loop()
    options = dict(hostname="capture.test", decode_data=False,
                   data_size_limit=64 * 1024 * 1024)
    context = None
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    if args.tls == "starttls":
        options["tls_context"] = context
    options["auth_exclude_mechanism"] = [m for m in ("PLAIN", "LOGIN")
                                         if m not in args.mechanisms.split(",")]
    if args.user is not None:
        options.update(authenticator=authenticator(args.user, args.password),
                       auth_required=True, auth_require_tls=False)
    server = await loop.create_server(
        lambda: LoggingSMTP(handler, folder, **options),
        host=args.host, port=args.port, ssl=context if args.tls == "implicit" else None)
    port = server.sockets[0].getsockname()[1]
    print(port, flush=True)
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    await stop
    server.close()


if __name__ == "__main__":
    # AUTH over plain text is offered on purpose (see above); the server's warnings about it
    # would only fill the test output.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls", choices=["starttls", "implicit"])
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--mechanisms", default="PLAIN,LOGIN")
    parser.add_argument("--sender-is-login", action="store_true")
    asyncio.run(main(parser.parse_args()))
