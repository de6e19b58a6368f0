"""A game-protocol client connection over UDP: the cookie handshake, the reliability layer,
pings, RPCs and disconnection. Every wait is bounded by a timeout.

By default a background thread pumps the socket (acknowledges, answers pings, resends), so a
test may sit waiting on something else without the server timing the client out. With
background=False nothing happens between calls; every receive/expect/pump call drives it.
"""

import select
import socket
import struct
import threading
import time
from collections import deque

from .bitstream import BitWriter, WireError
from .channel import Channel
from .datagram import RELIABLE, RELIABLE_ORDERED, UNRELIABLE, UNRELIABLE_SEQUENCED
from .rpc import ID_TIMESTAMPED, decode_rpc, encode_rpc, is_rpc

COOKIE_MASK = 0x52D7

ID_INTERNAL_PING = 6
ID_INTERNAL_PONG = 9
ID_STATIC_DATA_REQUEST = 10
ID_CONN_REQUEST = 11
ID_KEEP_ALIVE = 23
ID_CONN_INCOMING = 24
ID_CONN_OPEN_REPLY = 25
ID_CONN_COOKIE_REPLY = 26
ID_CONN_ATTEMPT_FAILED = 29
ID_CONN_HANDSHAKE_DONE = 30
ID_CONN_NO_FREE_SLOT = 31
ID_CONN_CLOSED = 32
ID_CONN_ACCEPTED = 34
ID_CONN_BANNED = 36
ID_CONN_BAD_PASSWORD = 37
ID_STATIC_DATA = 41

CONNECT_ATTEMPTS = 6
CONNECT_RETRY_S = 1.0
DEFAULT_INBOX_LIMIT = 20000
# The server bans a client that sends more than "messageslimit" (500 by default) messages in one
# of its one-second windows; sends are paced to stay below that unless the caller opts out.
DEFAULT_MESSAGE_RATE = 400
RATE_WINDOW_S = 1.1
MAX_DATAGRAMS_PER_STEP = 512

# Why a connection ended (Connection.closed_reason).
REFUSALS = {
    ID_CONN_ATTEMPT_FAILED: "already connected",
    ID_CONN_NO_FREE_SLOT: "no free slot",
    ID_CONN_BANNED: "banned",
    ID_CONN_BAD_PASSWORD: "bad password",
}
# Raw handshake replies are at most 3 bytes; no channel datagram that short starts with these.
_RAW_REPLIES = frozenset((ID_CONN_OPEN_REPLY, ID_CONN_COOKIE_REPLY)) | frozenset(REFUSALS)


class ConnectionRefused(Exception):
    pass


class Message:
    """One message the server sent, as the reliability layer delivered it."""

    def __init__(self, data, bits, reliability=None, channel=0):
        self.data = data
        self.bits = bits
        self.reliability = reliability
        self.channel = channel

    @property
    def timestamp(self):
        if len(self.data) >= 5 and self.data[0] == ID_TIMESTAMPED:
            return struct.unpack_from("<I", self.data, 1)[0]
        return None

    @property
    def id(self):
        """The message identifier, behind a timestamp prefix when there is one."""
        if not self.data:
            return None
        if self.data[0] == ID_TIMESTAMPED:
            return self.data[5] if len(self.data) > 5 else None
        return self.data[0]

    def is_rpc(self, rpc_id=None):
        if not is_rpc(self.data):
            return False
        if rpc_id is None:
            return True
        at = 6 if self.data[0] == ID_TIMESTAMPED else 1
        return len(self.data) > at and self.data[at] == rpc_id

    def rpc(self):
        return decode_rpc(self.data, self.bits)

    def __repr__(self):
        return "Message(id=%r, %d bits, %s)" % (self.id, self.bits, self.data[:16].hex())


class Accepted:
    """The fields of the server's connection-accepted message."""

    def __init__(self, data):
        if len(data) != 13:
            raise WireError("connection-accepted message of %d bytes" % len(data))
        self.address = socket.inet_ntoa(data[1:5])
        self.port, self.player_index, self.challenge = struct.unpack_from("<HHI", data, 5)


def _ms():
    return int(time.monotonic() * 1000) & 0xFFFFFFFF


class Connection:
    def __init__(self, server_host, server_port, scrambler, bind_host="127.0.0.2", bind_port=0,
                 password=b"", mtu=576, timeout=10.0, resend_delay=0.3, background=True,
                 inbox_limit=DEFAULT_INBOX_LIMIT, first_cookie=0, message_rate=DEFAULT_MESSAGE_RATE):
        self.server = (socket.gethostbyname(server_host), server_port)
        self.scrambler = scrambler
        self.password = password.encode("latin-1") if isinstance(password, str) else bytes(password)
        if len(self.password) > 255:
            raise ValueError("a connection password carries at most 255 bytes")
        self.channel = Channel(mtu=mtu, resend_delay=resend_delay, timeout=timeout)
        self.timeout = timeout
        self.inbox = deque()
        self.inbox_limit = inbox_limit
        self.inbox_dropped = 0
        self.state = "idle"       # idle, opening, requested, connected, closed
        self.closed_reason = None
        self.accepted = None
        self.cookie_replies = 0
        self.pings_answered = 0
        self.rtt_ms = None
        self.foreign_datagrams = 0
        self.send_errors = 0
        self._first_cookie = first_cookie & 0xFFFF
        self.message_rate = message_rate
        self._recent_sends = deque()
        self._attempts = 0
        self._next_attempt = 0.0
        self._lock = threading.RLock()
        self._arrived = threading.Condition(self._lock)
        self._background = background
        self._thread = None
        self._stop = False
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            self.sock.bind((bind_host, bind_port))
        except OSError:
            self.sock.close()
            raise
        self.sock.setblocking(False)
        self.local = self.sock.getsockname()

    # ---- life -------------------------------------------------------------------------------
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def connected(self):
        return self.state == "connected"

    @property
    def player_index(self):
        return self.accepted.player_index if self.accepted else None

    @property
    def challenge(self):
        return self.accepted.challenge if self.accepted else None

    def connect(self, timeout=8.0):
        """Runs the handshake; returns the Accepted fields or raises ConnectionRefused /
        TimeoutError."""
        with self._lock:
            if self.state != "idle":
                raise RuntimeError("connect() on a %s connection" % self.state)
            self.state = "opening"
            self._next_attempt = 0.0
        if self._background:
            self._thread = threading.Thread(target=self._run, daemon=True)
            self._thread.start()
        deadline = time.monotonic() + timeout
        with self._lock:
            while self.state in ("opening", "requested"):
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                if self._background:
                    self._arrived.wait(min(left, 0.05))
                else:
                    self._step(min(left, 0.02))
            if self.state == "connected":
                return self.accepted
            if self.state == "closed":
                raise ConnectionRefused(self.closed_reason)
            self.state = "closed"
            self.closed_reason = "no answer"
        raise TimeoutError("no connection to %s:%d within %.1f s" % (self.server + (timeout,)))

    def disconnect(self, timeout=2.0, linger=0.1):
        """Waits (bounded) until what was sent is acknowledged, sends the disconnection notice
        and closes the socket."""
        deadline = time.monotonic() + timeout
        with self._lock:
            if self.state == "connected":
                while self.channel.unacknowledged and time.monotonic() < deadline:
                    self._wait_or_step(0.01)
                self.channel.send(bytes([ID_CONN_CLOSED]), UNRELIABLE)
                self._flush()
                self.state = "closed"
                self.closed_reason = "local"
        end = time.monotonic() + linger
        while time.monotonic() < end:
            self.pump(0.01)
        self.close()

    def close(self):
        with self._lock:
            self._stop = True
            if self.state != "closed":
                self.state = "closed"
                self.closed_reason = self.closed_reason or "local"
            self._arrived.notify_all()
        if self._thread is not None and self._thread is not threading.current_thread():
            self._thread.join(timeout=2.0)
        self.sock.close()

    # ---- sending ------------------------------------------------------------------------------
    def send(self, data, reliability=RELIABLE_ORDERED, channel=0, bits=None):
        """Queues one message and sends it at once (after pacing, see message_rate)."""
        with self._lock:
            self._pace()
            if self.state != "connected":
                raise RuntimeError("send on a %s connection" % self.state)
            self.channel.send(data, reliability, channel, bits)
            self._flush()

    def _pace(self):
        if not self.message_rate:
            return
        recent = self._recent_sends
        while True:
            now = time.monotonic()
            while recent and now - recent[0] >= RATE_WINDOW_S:
                recent.popleft()
            if len(recent) < self.message_rate or self.state != "connected":
                break
            self._wait_or_step(min(0.02, RATE_WINDOW_S - (now - recent[0])))
        recent.append(time.monotonic())

    def send_rpc(self, rpc_id, payload=b"", bits=None, reliability=RELIABLE, channel=0,
                 timestamp=False):
        if isinstance(payload, BitWriter):
            bits, payload = payload.bits, payload.getvalue()
        message = encode_rpc(rpc_id, payload, bits, _ms() if timestamp else None)
        self.send(message, reliability, channel)

    def send_sync(self, data, channel=1):
        self.send(data, UNRELIABLE_SEQUENCED, channel)

    def ping(self):
        with self._lock:
            self.channel.send(struct.pack("<BI", ID_INTERNAL_PING, _ms()), UNRELIABLE)
            self._flush()

    # ---- receiving ----------------------------------------------------------------------------
    def pump(self, seconds=0.0):
        """Lets the connection work for `seconds` (acks, pings, resends, arrivals)."""
        end = time.monotonic() + seconds
        while True:
            with self._lock:
                if self._stop:
                    return
                self._wait_or_step(max(0.0, min(0.02, end - time.monotonic())))
            if time.monotonic() >= end:
                return

    def receive(self, timeout=1.0):
        """The next message, or None when none came within `timeout`."""
        return self.expect(lambda m: True, timeout, raise_on_timeout=False)

    def expect(self, predicate, timeout=5.0, raise_on_timeout=True, what="a matching message"):
        """Takes the first inbox message that matches, waiting up to `timeout`; messages that do
        not match stay in the inbox in their order."""
        deadline = time.monotonic() + timeout
        with self._lock:
            scanned = 0
            while True:
                while scanned < len(self.inbox):
                    m = self.inbox[scanned]
                    if predicate(m):
                        del self.inbox[scanned]
                        return m
                    scanned += 1
                left = deadline - time.monotonic()
                if left <= 0 or self.state == "closed":
                    break
                self._wait_or_step(min(left, 0.02))
        if raise_on_timeout:
            raise TimeoutError("%s did not arrive within %.1f s (state %s)" % (what, timeout, self.state))
        return None

    def expect_rpc(self, rpc_id, timeout=5.0):
        m = self.expect(lambda m: m.is_rpc(rpc_id), timeout, what="RPC %d" % rpc_id)
        return m.rpc()

    def expect_id(self, message_id, timeout=5.0):
        return self.expect(lambda m: m.id == message_id, timeout, what="message %d" % message_id)

    def wait_closed(self, timeout=5.0):
        deadline = time.monotonic() + timeout
        with self._lock:
            while self.state != "closed" and time.monotonic() < deadline:
                self._wait_or_step(min(0.02, max(0.0, deadline - time.monotonic())))
            return self.state == "closed"

    # ---- internals ------------------------------------------------------------------------------
    def _wait_or_step(self, seconds):
        if self._background and self._thread is not None and self._thread.is_alive():
            self._arrived.wait(seconds)
        else:
            self._step(seconds)

    def _run(self):
        while True:
            with self._lock:
                if self._stop:
                    return
            try:
                self._step(0.005)
            except OSError:
                with self._lock:
                    if self._stop:
                        return
                    raise

    def _step(self, wait):
        """One pass: read what arrived (waiting up to `wait` for the first datagram), then send."""
        try:
            readable, _, _ = select.select([self.sock], [], [], max(0.0, wait))
        except (OSError, ValueError):
            return
        with self._lock:
            if self._stop:
                return
            now = time.monotonic()
            if readable:
                for _ in range(MAX_DATAGRAMS_PER_STEP):
                    try:
                        data, sender = self.sock.recvfrom(2048)
                    except (BlockingIOError, InterruptedError):
                        break
                    except OSError:
                        break
                    self._on_datagram(data, sender, now)
            self._on_time(now)
            self._flush(now)

    def _raw(self, plain):
        try:
            self.sock.sendto(self.scrambler.encode(plain), self.server)
        except OSError:
            self.send_errors += 1

    def _flush(self, now=None):
        now = time.monotonic() if now is None else now
        if self.state not in ("requested", "connected", "closed"):
            return
        for datagram in self.channel.build_datagrams(now):
            self._raw(datagram)

    def _on_time(self, now):
        if self.state == "opening" and now >= self._next_attempt:
            if self._attempts >= CONNECT_ATTEMPTS:
                self._close("no answer")
                return
            self._attempts += 1
            self._next_attempt = now + CONNECT_RETRY_S
            self._raw(struct.pack("<BH", ID_CONN_INCOMING, self._first_cookie))
        if self.state in ("requested", "connected") and self.channel.is_dead(now):
            self._close("lost")

    def _close(self, reason):
        if self.state != "closed":
            self.state = "closed"
            self.closed_reason = reason
        self._arrived.notify_all()

    def _on_datagram(self, data, sender, now):
        if sender != self.server:
            self.foreign_datagrams += 1
            return
        if not data:
            return
        first = data[0]
        if self.state == "opening":
            if first == ID_CONN_COOKIE_REPLY and len(data) == 3:
                self.cookie_replies += 1
                cookie = struct.unpack_from("<H", data, 1)[0]
                self._raw(struct.pack("<BH", ID_CONN_INCOMING, cookie ^ COOKIE_MASK))
                return
            if first == ID_CONN_OPEN_REPLY and len(data) <= 2:
                self.state = "requested"
                self.channel.send(bytes([ID_CONN_REQUEST]) + self.password, RELIABLE)
                self._flush(now)
                return
            if first in REFUSALS and len(data) <= 2:
                self._close(REFUSALS[first])
            return
        if len(data) <= 3 and first in _RAW_REPLIES:
            return   # a late handshake reply, not a channel datagram
        for d in self.channel.receive_datagram(data, now):
            self._on_message(d, now)

    def _on_message(self, d, now):
        data = d.data
        first = data[0]
        if first == ID_INTERNAL_PING and len(data) == 5:
            sent = struct.unpack_from("<I", data, 1)[0]
            self.channel.send(struct.pack("<BII", ID_INTERNAL_PONG, sent, _ms()), UNRELIABLE)
            self.pings_answered += 1
            return
        if first == ID_INTERNAL_PONG and len(data) == 9:
            sent = struct.unpack_from("<I", data, 1)[0]
            self.rtt_ms = (_ms() - sent) & 0xFFFFFFFF
            return
        if first == ID_CONN_ACCEPTED and len(data) == 13:
            if self.state == "requested":
                self.accepted = Accepted(data)
                self.state = "connected"
                server_ip, server_port = self.server
                self.channel.send(struct.pack("<B4sH", ID_CONN_HANDSHAKE_DONE,
                                              socket.inet_aton(server_ip), server_port), RELIABLE)
                self.channel.send(struct.pack("<BI", ID_INTERNAL_PING, _ms()), UNRELIABLE)
                self._arrived.notify_all()
            return
        if first == ID_CONN_CLOSED:
            self._close("closed by server")
            return
        if first in (ID_CONN_BAD_PASSWORD, ID_CONN_NO_FREE_SLOT) and self.state == "requested":
            self._close(REFUSALS[first])
            return
        if first < 20 or first in (ID_KEEP_ALIVE, ID_STATIC_DATA):
            return
        if len(self.inbox) >= self.inbox_limit:
            self.inbox.popleft()
            self.inbox_dropped += 1
        self.inbox.append(Message(data, d.bits, d.reliability, d.channel))
        self._arrived.notify_all()
