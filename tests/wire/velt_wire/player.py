"""Joining as a player or a bot over a connected Connection, and the usual next steps."""

from .datagram import RELIABLE, RELIABLE_ORDERED
from .game import (Rpc, chat_text, class_request, command_text, decode_class_reply,
                   decode_connection_rejected, decode_game_init, decode_spawn_reply, npc_join,
                   player_join, player_spawned, rcon_command_packet, spawn_request)
from .sync import onfoot_packet


class JoinRejected(Exception):
    def __init__(self, reason):
        super().__init__("join refused with reason %d" % reason)
        self.reason = reason


def join(conn, name, npc=False, timeout=5.0, **fields):
    """Sends the join RPC answering the connection's challenge and returns the GameInit, or
    raises JoinRejected with the reason byte. `fields` go to player_join / npc_join (serial,
    client_version, version, check_byte, answer)."""
    if npc:
        conn.send_rpc(Rpc.NpcJoin, npc_join(name, conn.challenge, **fields), reliability=RELIABLE)
    else:
        conn.send_rpc(Rpc.PlayerJoin, player_join(name, conn.challenge, **fields), reliability=RELIABLE)
    m = conn.expect(lambda m: m.is_rpc(Rpc.GameInit) or m.is_rpc(Rpc.ConnectionRejected), timeout,
                    what="GameInit or ConnectionRejected")
    call = m.rpc()
    if call.rpc_id == Rpc.ConnectionRejected:
        raise JoinRejected(decode_connection_rejected(call))
    return decode_game_init(call)


def request_class(conn, class_index, timeout=5.0):
    conn.send_rpc(Rpc.ClassRequest, class_request(class_index))
    return decode_class_reply(conn.expect_rpc(Rpc.ClassRequest, timeout))


def request_spawn(conn, timeout=5.0):
    conn.send_rpc(Rpc.SpawnRequest, spawn_request())
    return decode_spawn_reply(conn.expect_rpc(Rpc.SpawnRequest, timeout))


def spawned(conn):
    conn.send_rpc(Rpc.PlayerSpawned, player_spawned())


def say(conn, text):
    conn.send_rpc(Rpc.ChatText, chat_text(text))


def command(conn, text):
    conn.send_rpc(Rpc.CommandText, command_text(text))


def rcon(conn, text):
    """An in-game remote-console line (the first one is usually "login <password>")."""
    conn.send(rcon_command_packet(text), RELIABLE_ORDERED, 0)


def send_onfoot(conn, record, channel=1):
    conn.send_sync(onfoot_packet(record), channel)
