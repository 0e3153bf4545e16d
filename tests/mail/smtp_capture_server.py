"""A real SMTP server for the tests: aiosmtpd on 127.0.0.1, on a free port.

Usage: smtp_capture_server.py FOLDER

Prints the port it listens on as one line on standard output, then serves until it is
terminated. Every accepted message is written to FOLDER as N.eml (the raw bytes the server
received after the end-of-data line, dot-unstuffed) and N.env (the envelope: "from" line, then
one "to" line per recipient), N counting from 1; the .eml file appears last and whole (written
under a temporary name, then renamed). Everything a client sends is appended to
FOLDER/dialogue.log as it arrives.
"""

import asyncio
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


class CaptureHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

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


async def main(folder):
    handler = CaptureHandler(folder)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: LoggingSMTP(handler, folder, hostname="capture.test",
                            decode_data=False, data_size_limit=64 * 1024 * 1024),
        host="127.0.0.1", port=0)
    port = server.sockets[0].getsockname()[1]
    print(port, flush=True)
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    await stop
    server.close()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
