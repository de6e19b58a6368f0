"""An independent client of the game protocol for end-to-end tests (standard library only).

See tests/wire/README.md for the API in brief.
"""

from .bitstream import BitReader, BitWriter, WireError, f32
from .channel import Channel
from .connection import Accepted, Connection, ConnectionRefused, Message
from .datagram import (RELIABLE, RELIABLE_ORDERED, RELIABLE_SEQUENCED, UNRELIABLE,
                       UNRELIABLE_SEQUENCED)
from .game import (ID_PLAYER_SYNC, ID_RCON_COMMAND, JOIN_CHECK_BYTE, PROTOCOL_VERSION,
                   RejectReason, Rpc, SpawnInfo, challenge_answer, chat_text, class_request,
                   command_text, death_report, decode_chat_text, decode_class_reply,
                   decode_client_message, decode_connection_rejected, decode_game_init,
                   decode_player_joined, decode_player_left, decode_spawn_reply, npc_join,
                   player_join, player_spawned, rcon_command_packet, spawn_request)
from .query import QueryClient
from .rpc import RpcCall, decode_rpc, encode_rpc
from .scramble import Scrambler, load_table
from . import player
from .player import JoinRejected, join
from .sync import OnFootSync, decode_relayed_onfoot, health_armour_byte, onfoot_packet
from .vehicle import (InCarSync, RelayedDriver, VehicleStreamIn, decode_relayed_driver,
                      decode_vehicle_stream_in, driver_packet, passenger_packet, trailer_packet,
                      unoccupied_packet, vehicle_damage, vehicle_destroyed, vehicle_enter,
                      vehicle_exit, vehicle_mod)
from .text import read_compressed_text
from .world import (decode_actor_animation, decode_actor_stream_in, decode_pickup_create,
                    decode_pickup_destroy, decode_text_label_create, decode_u16_id)
from .dialogs import Dialog, decode_checkpoint_set, decode_dialog_show, dialog_response
