#!/usr/bin/env python3
"""The mail sender against a real SMTP server (aiosmtpd) on loopback.

A mail with two attachments and a body holding a line "." must arrive whole: the message parses
with the email package, the body is the one sent (line ends made CR LF), the attachments equal
the files. A refused recipient ends the dialogue before DATA; a header with a line break never
reaches the server.
"""
import asyncio
import email
import email.policy
import os
import socket
import subprocess
import sys
import tempfile
import threading

from aiosmtpd.smtp import SMTP


class Recorder:
    def __init__(self):
        self.mails = []
        self.helo = []
        self.refuse_rcpt = False
        self.data_seen = 0
        self.connections = 0

    async def handle_HELO(self, server, session, envelope, hostname):
        self.helo.append(hostname)
        session.host_name = hostname
        return "250 pleased"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse_rcpt:
            return "550 not relaying for you"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.data_seen += 1
        self.mails.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.original_content))
        return "250 queued"


def start_server(recorder):
    loop = asyncio.new_event_loop()
    ready = threading.Event()
    holder = {}

    def factory():
        recorder.connections += 1
        return SMTP(recorder, hostname="velt-test", loop=loop)

    def run():
        asyncio.set_event_loop(loop)
        server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", 0))
        holder["port"] = server.sockets[0].getsockname()[1]
        holder["server"] = server
        ready.set()
        loop.run_forever()
        server.close()
        loop.run_until_complete(server.wait_closed())

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    ready.wait(10)
    return loop, thread, holder["port"]


def misbehaving_server(greeting):
    """A listener that greets with greeting (None: never) and then hangs up; gives its port."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)

    def run():
        conn, _ = listener.accept()
        with conn:
            if greeting is None:
                conn.recv(1)  # stays silent until the client gives up
            else:
                conn.sendall(greeting)
                conn.recv(100)
        listener.close()

    threading.Thread(target=run, daemon=True).start()
    return listener.getsockname()[1]


def send(tool, port, sender, recipient, subject, body_path, attachments):
    result = subprocess.run([tool, "127.0.0.1", str(port), sender, recipient, subject, body_path] + attachments,
                            capture_output=True, text=True, timeout=60)
    return result.stdout.strip()


def main():
    tool = sys.argv[1]
    failures = []
    recorder = Recorder()
    loop, thread, port = start_server(recorder)
    try:
        with tempfile.TemporaryDirectory() as tmp:
            body = "First line\r\n.\r\n..\r\n.starts with a dot\nLF only line\rCR only line\r\nlast line"
            body_path = os.path.join(tmp, "body.txt")
            with open(body_path, "wb") as f:
                f.write(body.encode())
            binary = os.urandom(100000)
            exact = bytes(range(57))
            paths = []
            for name, data in (("payload.bin", binary), ("fifty seven.dat", exact)):
                paths.append(os.path.join(tmp, name))
                with open(paths[-1], "wb") as f:
                    f.write(data)

            outcome = send(tool, port, "from@example.org", "to@example.org", "Velt report", body_path, paths)
            if outcome != "OK":
                failures.append(f"full mail: {outcome}")
            elif len(recorder.mails) != 1:
                failures.append(f"full mail: {len(recorder.mails)} mails arrived")
            else:
                mail_from, rcpts, raw = recorder.mails[0]
                message = email.message_from_bytes(raw, policy=email.policy.default)
                if mail_from != "from@example.org" or rcpts != ["to@example.org"]:
                    failures.append(f"envelope {mail_from} {rcpts}")
                head = raw.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
                for line in (b"Subject: Velt report", b"From: Velt Sender", b"To: Velt Recipient"):
                    if line not in head:
                        failures.append(f"header {line!r} missing from {head!r}")
                if not message.is_multipart():
                    failures.append("not multipart")
                parts = list(message.iter_parts())
                if len(parts) != 3:
                    failures.append(f"{len(parts)} parts")
                else:
                    text = parts[0].get_payload(decode=True).replace(b"\r\n", b"\n")
                    want = body.replace("\r\n", "\n").replace("\r", "\n").encode() + b"\n"
                    if text != want:
                        failures.append(f"body {text!r} != {want!r}")
                    for part, (name, data) in zip(parts[1:], (("payload.bin", binary), ("fifty seven.dat", exact))):
                        if part.get_param("name") != name:
                            failures.append(f"attachment name {part.get_param('name')!r}")
                        if part.get_payload(decode=True) != data:
                            failures.append(f"attachment {name} differs")
                # Nothing after the body's "." line may have been taken for a command.
                if recorder.connections != 1 or recorder.data_seen != 1:
                    failures.append("the dialogue went astray")
            if not recorder.helo or not recorder.helo[0]:
                failures.append(f"greeting without a host name: {recorder.helo}")

            outcome = send(tool, port, "", "", "", body_path, [])
            if outcome != "OK" or len(recorder.mails) != 2:
                failures.append(f"plain mail: {outcome}")
            else:
                message = email.message_from_bytes(recorder.mails[1][2], policy=email.policy.default)
                if message.is_multipart() or message.get_content_type() != "text/plain":
                    failures.append("a mail without attachments is multipart")

            recorder.refuse_rcpt = True
            data_before = recorder.data_seen
            outcome = send(tool, port, "from@example.org", "nobody@example.org", "x", body_path, [])
            if outcome != "Failed on error code 550" or recorder.data_seen != data_before:
                failures.append(f"refused recipient: {outcome}")
            recorder.refuse_rcpt = False

            connections = recorder.connections
            outcome = send(tool, port, "from@example.org", "to@example.org", "Hi\r\nBcc: victim@example.org",
                           body_path, [])
            if outcome != "Line break in an address, name, subject or file name" or recorder.connections != connections:
                failures.append(f"header injection: {outcome}")
            for greeting, want in ((None, "Timeout while waiting for initial data from server."),
                                   (b"220 hello\r\n", "Connection to server lost."),
                                   (b"220-first\r\n220 last\r\n", "Connection to server lost.")):
                outcome = send(tool, misbehaving_server(greeting), "a@b", "c@d", "s", body_path, [])
                if outcome != want:
                    failures.append(f"server greeting {greeting!r}: {outcome}")
    finally:
        loop.call_soon_threadsafe(loop.stop)
        thread.join(10)

    for f in failures:
        print("FAIL", f)
    print("mail check:", "ok" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
