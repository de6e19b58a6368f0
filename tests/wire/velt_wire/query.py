"""The query and remote-console protocol: plain UDP datagrams on the game port that begin with
"VELT". Every request and reply starts with the same 11-byte header (magic, the server's IPv4
address and port as the client addressed them, opcode); a reply repeats the request's header.
"""

import select
import socket
import struct
import time
from dataclasses import dataclass

from .bitstream import WireError

MAGIC = b"VELT"
HEADER_SIZE = 11


def header(server_ip, server_port, opcode):
    return MAGIC + socket.inet_aton(server_ip) + struct.pack("<H", server_port) + opcode.encode("ascii")


class _Cursor:
    def __init__(self, data, at):
        self.data, self.at = data, at

    def take(self, n):
        if n < 0 or self.at + n > len(self.data):
            raise WireError("reply cut short at byte %d (wanted %d more)" % (self.at, n))
        out = self.data[self.at: self.at + n]
        self.at += n
        return out

    def unpack(self, fmt):
        return struct.unpack(fmt, self.take(struct.calcsize(fmt)))

    def text(self, fmt):
        (n,) = self.unpack(fmt)
        return self.take(n)

    def end(self):
        if self.at != len(self.data):
            raise WireError("%d bytes after the end of the reply" % (len(self.data) - self.at))


@dataclass
class Info:
    password: bool
    players: int
    max_players: int
    hostname: bytes
    gamemode: bytes
    language: bytes


def decode_info(reply):
    c = _Cursor(reply, HEADER_SIZE)
    (password, players, max_players) = c.unpack("<BHH")
    info = Info(password != 0, players, max_players, c.text("<I"), c.text("<I"), c.text("<I"))
    c.end()
    return info


def decode_rules(reply):
    """[(name, value)] in the order sent."""
    c = _Cursor(reply, HEADER_SIZE)
    (count,) = c.unpack("<H")
    rules = [(c.text("<B"), c.text("<B")) for _ in range(count)]
    c.end()
    return rules


def decode_clients(reply):
    """[(name, score)]."""
    c = _Cursor(reply, HEADER_SIZE)
    (count,) = c.unpack("<H")
    out = []
    for _ in range(count):
        name = c.text("<B")
        (score,) = c.unpack("<i")
        out.append((name, score))
    c.end()
    return out


def decode_detailed(reply):
    """[(id, name, score, ping)]; the id is the low 8 bits of the player id."""
    c = _Cursor(reply, HEADER_SIZE)
    (count,) = c.unpack("<H")
    out = []
    for _ in range(count):
        (pid,) = c.unpack("<B")
        name = c.text("<B")
        score, ping = c.unpack("<iI")
        out.append((pid, name, score, ping))
    c.end()
    return out


def decode_rcon_line(reply):
    c = _Cursor(reply, HEADER_SIZE)
    line = c.text("<H")
    c.end()
    return line


def rcon_request(head, password, command):
    pw = password.encode("latin-1") if isinstance(password, str) else bytes(password)
    cmd = command.encode("latin-1") if isinstance(command, str) else bytes(command)
    return head + struct.pack("<H", len(pw)) + pw + struct.pack("<H", len(cmd)) + cmd


class QueryClient:
    """Sends one request at a time and collects the replies that carry its header."""

    def __init__(self, server_host, server_port, bind_host="127.0.0.2", bind_port=0):
        self.server = (socket.gethostbyname(server_host), server_port)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            self.sock.bind((bind_host, bind_port))
        except OSError:
            self.sock.close()
            raise
        self.sock.setblocking(False)
        self.local = self.sock.getsockname()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self.sock.close()

    def header(self, opcode):
        return header(self.server[0], self.server[1], opcode)

    def send_raw(self, data):
        self.sock.sendto(data, self.server)

    def drain(self):
        while True:
            try:
                self.sock.recvfrom(65536)
            except (BlockingIOError, InterruptedError):
                return
            except OSError:
                return

    def collect(self, prefix, timeout, first_only=True, quiet=0.3, limit=1000):
        """Replies from the server that start with `prefix`: the first one (or None), or every
        one until `quiet` seconds pass without another (bounded by `timeout` and `limit`)."""
        deadline = time.monotonic() + timeout
        got = []
        while len(got) < limit:
            now = time.monotonic()
            wait = deadline - now
            if got and not first_only:
                wait = min(wait, quiet)
            if wait <= 0:
                break
            readable, _, _ = select.select([self.sock], [], [], wait)
            if not readable:
                break
            try:
                data, sender = self.sock.recvfrom(65536)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                break
            if sender != self.server or not data.startswith(prefix):
                continue
            if first_only:
                return data
            got.append(data)
        return None if first_only else got

    def request(self, opcode, body=b"", timeout=1.0, retries=2):
        """One reply to a request, or None. A request can be dropped by the server's rate gates,
        so it is sent again (up to `retries` more times) when no reply comes."""
        head = self.header(opcode)
        for _ in range(retries + 1):
            self.send_raw(head + body)
            reply = self.collect(head, timeout)
            if reply is not None:
                return reply
        return None

    def info(self, timeout=1.0):
        reply = self.request("i", timeout=timeout)
        return decode_info(reply) if reply is not None else None

    def rules(self, timeout=1.0):
        reply = self.request("r", timeout=timeout)
        return decode_rules(reply) if reply is not None else None

    def clients(self, timeout=1.0):
        reply = self.request("c", timeout=timeout)
        return decode_clients(reply) if reply is not None else None

    def detailed(self, timeout=1.0):
        reply = self.request("d", timeout=timeout)
        return decode_detailed(reply) if reply is not None else None

    def ping(self, token=b"\x01\x02\x03\x04", timeout=1.0):
        """True when the 15-byte ping came back unchanged."""
        if len(token) != 4:
            raise ValueError("a ping carries exactly 4 bytes")
        reply = self.request("p", token, timeout=timeout)
        return reply == self.header("p") + token

    def rcon(self, password, command, timeout=2.0, quiet=0.3):
        """The output lines of one remote-console command (possibly none)."""
        head = self.header("x")
        self.send_raw(rcon_request(head, password, command))
        return [decode_rcon_line(r) for r in self.collect(head, timeout, first_only=False, quiet=quiet)]
