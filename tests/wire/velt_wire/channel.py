"""The per-connection reliability state of a client, without sockets: what to put into the
next datagrams and what a received datagram delivers. Time is passed in (seconds, monotonic),
so the logic can be driven by tests without waiting.

Everything the remote side can make us hold is bounded: the duplicate window, the held
out-of-order messages per channel, the split messages being reassembled and their pieces.
"""

from collections import OrderedDict, deque
from dataclasses import dataclass

from .bitstream import BitWriter, WireError
from .datagram import (MAX_PAYLOAD_BITS, ORDERED_KINDS, RELIABLE_KINDS, RELIABLE_ORDERED,
                       RELIABLE_SEQUENCED, UDP_OVERHEAD, UNRELIABLE_SEQUENCED, WireMessage,
                       header_estimate_bits, parse_datagram, range_bits, ranges_of, write_acks)

CHANNELS = 32
WINDOW_AHEAD = 32768          # message numbers further ahead are taken as old (behind)
MAX_HELD_PER_CHANNEL = 4096   # ordered messages waiting for an earlier one
MAX_SPLITS = 64               # split messages reassembled at once
MAX_SPLIT_PIECES = 8192
UNRELIABLE_SPLIT_TTL = 10.0


@dataclass
class Delivered:
    data: bytes
    bits: int
    reliability: int
    channel: int


def compressed_bits(value, width):
    """Size of an unsigned value in the compressed integer form."""
    nbytes = width // 8
    raw = value.to_bytes(nbytes, "little")
    n, current = 0, nbytes - 1
    while current > 0:
        n += 1
        if raw[current]:
            return n + (current + 1) * 8
        current -= 1
    return n + (5 if raw[0] < 16 else 9)


class ChannelStats:
    def __init__(self):
        self.datagrams_sent = 0
        self.datagrams_received = 0
        self.datagrams_void = 0
        self.messages_sent = 0
        self.resends = 0
        self.duplicates = 0
        self.out_of_order_held = 0
        self.stale_dropped = 0
        self.sequenced_dropped = 0
        self.splits_joined = 0
        self.splits_dropped = 0
        self.acks_received = 0


class _Split:
    def __init__(self, count, now):
        self.count = count
        self.pieces = {}
        self.last = now


class Channel:
    def __init__(self, mtu=576, resend_delay=0.5, timeout=10.0, max_datagrams_per_flush=64):
        self.mtu = mtu
        self.resend_delay = resend_delay
        self.timeout = timeout
        self.max_datagrams_per_flush = max_datagrams_per_flush
        self.stats = ChannelStats()
        # sending
        self._number = 0
        self._ordered_write = [0] * CHANNELS
        self._sequenced_write = [0] * CHANNELS
        self._queue = deque()                 # WireMessage waiting for a first send
        self._resend = OrderedDict()          # number -> [WireMessage, due]
        self._last_ack = None                 # None: nothing awaits an acknowledgement
        # receiving
        self._acks = set()
        self._base = 0
        self._window = deque()                # per number from base: 0 received, else give-up time
        self._ordered_read = [0] * CHANNELS
        self._sequenced_read = [0] * CHANNELS
        self._held = [dict() for _ in range(CHANNELS)]
        self._splits = OrderedDict()          # split id -> _Split

    # ---- sending ------------------------------------------------------------------------------
    @property
    def max_payload(self):
        """Bytes of the largest message sent whole; a server refuses split messages from clients."""
        return self.mtu - UDP_OVERHEAD - (header_estimate_bits(RELIABLE_ORDERED) + 7) // 8

    def send(self, payload, reliability, channel=0, bits=None):
        payload = bytes(payload)
        if bits is None:
            bits = len(payload) * 8
        if bits <= 0 or bits > len(payload) * 8:
            raise ValueError("a message needs 1 to %d bits" % (len(payload) * 8))
        if (bits + 7) // 8 > self.max_payload or bits > MAX_PAYLOAD_BITS:
            raise ValueError("%d bytes do not fit one datagram (at most %d); a server refuses "
                             "split messages" % ((bits + 7) // 8, self.max_payload))
        if not 6 <= reliability <= 10:
            raise ValueError("reliability %d is not one of 6..10" % reliability)
        if not 0 <= channel < CHANNELS:
            raise ValueError("ordering channel %d is not one of 0..31" % channel)
        if len(self._resend) + len(self._queue) >= WINDOW_AHEAD // 2:
            raise WireError("too many messages waiting for acknowledgement")
        index = 0
        if reliability == RELIABLE_ORDERED:
            index = self._ordered_write[channel]
            self._ordered_write[channel] = (index + 1) & 0xFFFF
        elif reliability in (UNRELIABLE_SEQUENCED, RELIABLE_SEQUENCED):
            index = self._sequenced_write[channel]
            self._sequenced_write[channel] = (index + 1) & 0xFFFF
        m = WireMessage(self._number, reliability, payload, bits,
                        channel if reliability in ORDERED_KINDS else 0, index)
        self._number = (self._number + 1) & 0xFFFF
        self._queue.append(m)
        return m.number

    @property
    def unacknowledged(self):
        return len(self._resend)

    @property
    def pending(self):
        """Anything still to send or to have acknowledged."""
        return bool(self._queue or self._resend or self._acks)

    def is_dead(self, now):
        return (bool(self._resend) and self._last_ack is not None
                and now - self._last_ack > self.timeout)

    def _fits(self, w, m):
        header = 16 + 4 + 1 + (21 if m.reliability in ORDERED_KINDS else 0)
        header += compressed_bits(m.bits, 16)
        end = w.bits + header
        end += (-end) % 8
        return end + m.bits <= (self.mtu - UDP_OVERHEAD) * 8

    def build_datagrams(self, now):
        """Plain datagrams to send now: pending acknowledgements, due resends, new messages."""
        out = []
        while len(out) < self.max_datagrams_per_flush:
            w = BitWriter()
            if self._acks:
                budget = self.mtu * 8 - 225 - 49
                taken, cost = [], 0
                for r in ranges_of(self._acks):
                    if cost + range_bits(r) > budget:
                        break
                    taken.append(r)
                    cost += range_bits(r)
                write_acks(w, taken)
                for lo, hi in taken:
                    self._acks.difference_update(range(lo, hi + 1))
            else:
                w.write_bit(0)
            count = 0
            full = False
            for number in list(self._resend):
                m, due = self._resend[number]
                if due > now:
                    continue
                if not self._fits(w, m):
                    full = True
                    break
                m.write(w)
                count += 1
                self.stats.resends += 1
                self._resend[number][1] = now + self.resend_delay
                self._resend.move_to_end(number)
            while not full and self._queue:
                m = self._queue[0]
                if not self._fits(w, m):
                    break
                self._queue.popleft()
                m.write(w)
                count += 1
                self.stats.messages_sent += 1
                if m.reliability in RELIABLE_KINDS:
                    self._resend[m.number] = [m, now + self.resend_delay]
                    if self._last_ack is None:
                        self._last_ack = now
            if count == 0 and w.bits <= 1:
                break
            out.append(w.getvalue())
            self.stats.datagrams_sent += 1
            if count == 0 and not self._acks:
                break
        return out

    # ---- receiving ----------------------------------------------------------------------------
    def receive_datagram(self, data, now):
        """Messages the datagram completes, in delivery order. A datagram whose acknowledgement
        part is unreadable is void as a whole."""
        self.stats.datagrams_received += 1
        if len(data) < 2:
            return []
        try:
            d = parse_datagram(data)
        except WireError:
            self.stats.datagrams_void += 1
            return []
        for lo, hi in d.acks:
            for n in range(lo, hi + 1):
                if self._resend.pop(n, None) is not None:
                    self.stats.acks_received += 1
            self._last_ack = None if not self._resend else now
        out = []
        for m in d.messages:
            if m.reliability in RELIABLE_KINDS:
                self._acks.add(m.number)
            if self._is_duplicate(m.number, now):
                self.stats.duplicates += 1
                continue
            self._accept(m, now, out)
        return out

    def _is_duplicate(self, number, now):
        d = (number - self._base) & 0xFFFF
        if d >= WINDOW_AHEAD:
            return True
        if d == 0:
            if self._window:
                self._window.popleft()
            self._base = (self._base + 1) & 0xFFFF
        elif d >= len(self._window):
            give_up = now + self.timeout
            while len(self._window) < d:
                self._window.append(give_up)
            self._window.append(0)
        elif self._window[d] != 0:
            self._window[d] = 0
        else:
            return True
        while self._window and self._window[0] < now:
            self._window.popleft()
            self._base = (self._base + 1) & 0xFFFF
        return False

    def _accept(self, m, now, out):
        if m.split_count:
            m = self._join(m, now)
            if m is None:
                return
        ch = m.channel
        if m.reliability in (UNRELIABLE_SEQUENCED, RELIABLE_SEQUENCED):
            if (m.index - self._sequenced_read[ch]) & 0xFFFF >= WINDOW_AHEAD:
                self.stats.sequenced_dropped += 1
                return
            self._sequenced_read[ch] = (m.index + 1) & 0xFFFF
            out.append(Delivered(m.payload, m.bits, m.reliability, ch))
        elif m.reliability == RELIABLE_ORDERED:
            d = (m.index - self._ordered_read[ch]) & 0xFFFF
            if d == 0:
                out.append(Delivered(m.payload, m.bits, m.reliability, ch))
                self._ordered_read[ch] = (m.index + 1) & 0xFFFF
                held = self._held[ch]
                while self._ordered_read[ch] in held:
                    h = held.pop(self._ordered_read[ch])
                    out.append(Delivered(h.payload, h.bits, h.reliability, ch))
                    self._ordered_read[ch] = (self._ordered_read[ch] + 1) & 0xFFFF
            elif d >= WINDOW_AHEAD or m.index in self._held[ch]:
                self.stats.stale_dropped += 1
            elif len(self._held[ch]) >= MAX_HELD_PER_CHANNEL:
                self.stats.stale_dropped += 1
            else:
                self._held[ch][m.index] = m
                self.stats.out_of_order_held += 1
        else:
            out.append(Delivered(m.payload, m.bits, m.reliability, 0))

    def _join(self, piece, now):
        for sid in [s for s, sp in self._splits.items()
                    if sp.pieces and now - sp.last > UNRELIABLE_SPLIT_TTL
                    and next(iter(sp.pieces.values())).reliability not in RELIABLE_KINDS]:
            del self._splits[sid]
            self.stats.splits_dropped += 1
        if piece.split_count > MAX_SPLIT_PIECES:
            self.stats.splits_dropped += 1
            return None
        sp = self._splits.get(piece.split_id)
        if sp is None:
            if len(self._splits) >= MAX_SPLITS:
                self._splits.popitem(last=False)
                self.stats.splits_dropped += 1
            sp = self._splits[piece.split_id] = _Split(piece.split_count, now)
        if sp.count != piece.split_count:
            self.stats.splits_dropped += 1
            return None
        sp.pieces[piece.split_index] = piece
        sp.last = now
        if len(sp.pieces) < sp.count:
            return None
        del self._splits[piece.split_id]
        w = BitWriter()
        for i in range(sp.count):
            p = sp.pieces[i]
            w.write_raw(p.payload, p.bits)
        first = sp.pieces[0]
        self.stats.splits_joined += 1
        return WireMessage(first.number, first.reliability, w.getvalue(), w.bits, first.channel,
                           first.index)
