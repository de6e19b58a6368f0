"""Game-level messages: RPC ids by name, the join requests, and the payloads a test client sends
and reads. Encoders return payload bytes; decoders take an RpcCall, a BitReader or bytes and
raise WireError on short or malformed input.
"""

import struct
from dataclasses import dataclass

from .bitstream import BitReader, WireError

PROTOCOL_VERSION = 4061
JOIN_CHECK_BYTE = 1

ID_RCON_COMMAND = 201
ID_PLAYER_SYNC = 207


class Rpc:
    """RPC ids by name, in both directions."""
    # client -> server
    PlayerJoin = 25
    NpcJoin = 54
    ChatText = 101
    CommandText = 50
    DialogResponse = 62
    ClassRequest = 128
    SpawnRequest = 129
    PlayerSpawned = 52
    DeathReport = 53
    VehicleDamageStatus = 106
    VehicleEnter = 26
    VehicleExit = 154
    VehicleModEvent = 96
    VehicleDestroyed = 136
    ScoresPingsUpdate = 155
    NetStats = 102
    InteriorChange = 118
    ScriptCash = 31
    MapClick = 119
    ValueRelayRequest = 97
    PickupPickedUp = 131
    MenuRowSelect = 132
    MenuExit = 140
    PlayerClick = 23
    CameraTargetUpdate = 168
    PlayerDamage = 115
    ActorDamage = 177
    AttachedObjectEdit = 116
    ObjectEdit = 117
    ObjectSelect = 27
    TextDrawSelect = 83
    ModelFileRequest = 181
    TextureFileRequest = 182
    DownloadFinished = 184
    # server -> client
    PlayerNameSet = 11
    PlayerPosSet = 12
    PlayerPosFindZ = 13
    PlayerHealthSet = 14
    PlayerControllableToggle = 15
    PlayerSoundPlay = 16
    PlayerWorldBoundsSet = 17
    PlayerMoneyGive = 18
    PlayerFacingAngleSet = 19
    PlayerMoneyReset = 20
    PlayerWeaponsReset = 21
    PlayerWeaponGive = 22
    VehicleParamsExSet = 24
    ObjectEditCancel = 28
    PlayerTimeSet = 29
    PlayerClockToggle = 30
    PlayerStreamIn = 32
    ShopNameSet = 33
    SkillLevelSet = 34
    DrunkLevelSet = 35
    TextLabelCreate = 36
    CheckpointDisable = 37
    RaceCheckpointSet = 38
    RaceCheckpointDisable = 39
    GameModeRestart = 40
    AudioStreamPlay = 41
    AudioStreamStop = 42
    BuildingRemove = 43
    ObjectCreate = 44
    ObjectPosSet = 45
    ObjectRotSet = 46
    ObjectDestroy = 47
    PlayerVirtualWorldSet = 48
    DeathMessage = 55
    MapIconSet = 56
    VehicleComponentRemove = 57
    TextLabelDelete = 58
    ChatBubbleSet = 59
    DialogShow = 61
    PickupDestroy = 63
    VehicleInteriorLink = 65
    PlayerArmourSet = 66
    ArmedWeaponSet = 67
    SpawnInfoSet = 68
    PlayerTeamSet = 69
    PutInVehicle = 70
    RemoveFromVehicle = 71
    PlayerColorSet = 72
    GameTextShow = 73
    ClassSelectionForce = 74
    ObjectAttachToPlayer = 75
    MenuInit = 76
    MenuShow = 77
    MenuHide = 78
    ExplosionCreate = 79
    NameTagShow = 80
    CameraAttachToObject = 81
    CameraInterpolate = 82
    ObjectMaterialSet = 84
    GangZoneFlashStop = 85
    AnimationApply = 86
    AnimationClear = 87
    SpecialActionSet = 88
    FightingStyleSet = 89
    PlayerVelocitySet = 90
    VehicleVelocitySet = 91
    ClientMessage = 93
    WorldTimeSet = 94
    PickupCreate = 95
    ObjectMove = 99
    StuntBonusEnable = 104
    TextDrawStringSet = 105
    CheckpointSet = 107
    GangZoneShow = 108
    CrimeReportPlay = 112
    AttachedObjectSet = 113
    GangZoneHide = 120
    GangZoneFlash = 121
    ObjectStop = 122
    NumberPlateSet = 123
    SpectatingToggle = 124
    SpectatePlayer = 126
    SpectateVehicle = 127
    ConnectionRejected = 130
    WantedLevelSet = 133
    TextDrawShow = 134
    TextDrawHide = 135
    PlayerJoined = 137
    PlayerLeft = 138
    GameInit = 139
    MapIconRemove = 144
    PlayerAmmoSet = 145
    GravitySet = 146
    VehicleHealthSet = 147
    TrailerAttach = 148
    TrailerDetach = 149
    ValueRelayBroadcast = 151
    WeatherSet = 152
    PlayerSkinSet = 153
    PlayerInteriorSet = 156
    CameraPosSet = 157
    CameraLookAtSet = 158
    VehiclePosSet = 159
    VehicleZAngleSet = 160
    VehicleParamsSet = 161
    CameraBehindSet = 162
    PlayerStreamOut = 163
    VehicleStreamIn = 164
    VehicleStreamOut = 165
    PlayerDeath = 166
    RemoteVehicleCollisionsDisable = 167
    ObjectNoCameraColSet = 169
    CameraTargetEnable = 170
    ActorStreamIn = 171
    ActorStreamOut = 172
    ActorAnimationApply = 173
    ActorAnimationClear = 174
    ActorFacingAngleSet = 175
    ActorPosSet = 176
    ActorHealthSet = 178
    CustomModelAdd = 179
    FileTransferMessage = 183


class RejectReason:
    WRONG_VERSION_OR_ANSWER = 1
    BAD_NAME = 2
    WRONG_CHECK_BYTE = 3
    NO_CONNECTION_OR_FULL = 4


def challenge_answer(challenge):
    return (challenge ^ PROTOCOL_VERSION) & 0xFFFFFFFF


def _text(value):
    return value.encode("latin-1") if isinstance(value, str) else bytes(value)


# ---- join ---------------------------------------------------------------------------------

def player_join(name, challenge, serial=b"0123456789ABCDEF", client_version=None,
                version=PROTOCOL_VERSION, check_byte=JOIN_CHECK_BYTE, answer=None):
    """PlayerJoin payload. `answer` overrides the computed challenge answer (for refusal tests);
    `client_version` None leaves the optional trailing part out."""
    name, serial = _text(name), _text(serial)
    if answer is None:
        answer = challenge_answer(challenge)
    out = struct.pack("<IBB", version, check_byte, len(name)) + name
    out += struct.pack("<IB", answer, len(serial)) + serial
    if client_version is not None:
        cv = _text(client_version)
        out += struct.pack("<B", len(cv)) + cv
    return out


def npc_join(name, challenge, version=PROTOCOL_VERSION, check_byte=JOIN_CHECK_BYTE, answer=None):
    name = _text(name)
    if answer is None:
        answer = challenge_answer(challenge)
    return struct.pack("<IBB", version, check_byte, len(name)) + name + struct.pack("<I", answer)


# ---- client -> server payloads ----------------------------------------------------------------

def chat_text(text):
    text = _text(text)
    if len(text) > 255:
        raise ValueError("a chat line carries at most 255 bytes")
    return struct.pack("<B", len(text)) + text


def command_text(text):
    text = _text(text)
    return struct.pack("<I", len(text)) + text


def class_request(class_index):
    return struct.pack("<i", class_index)


def spawn_request():
    return b""


def player_spawned():
    return b""


def death_report(reason, killer=0xFFFF):
    return struct.pack("<BH", reason, killer)


def rcon_command_packet(text):
    """The in-game remote-console packet (not an RPC): [201][u32 length][text]."""
    text = _text(text)
    return struct.pack("<BI", ID_RCON_COMMAND, len(text)) + text


# ---- server -> client decoders -------------------------------------------------------------

def _reader(call_or_reader):
    if isinstance(call_or_reader, BitReader):
        return call_or_reader
    if isinstance(call_or_reader, (bytes, bytearray)):
        return BitReader(call_or_reader)
    return call_or_reader.reader()


@dataclass
class GameInit:
    reserved: bool
    use_player_ped_anims: bool
    allow_interior_weapons: bool
    limit_global_chat_radius: bool
    global_chat_radius: float
    stunt_bonus: bool
    name_tag_draw_distance: float
    disable_interior_enter_exits: bool
    name_tag_line_of_sight: bool
    manual_vehicle_engine_and_lights: bool
    class_count: int
    player_id: int
    show_name_tags: bool
    player_marker_mode: int
    world_time_hour: int
    weather: int
    gravity: float
    lan_mode: bool
    death_drop_amount: int
    zero_bit: int
    onfoot_rate: int
    incar_rate: int
    weapon_rate: int
    fixed_two: int
    lagcomp_mode: int
    hostname: bytes
    model_counts: bytes     # 212 counts, models 400..611
    vehicle_friendly_fire: int


def decode_game_init(call):
    r = _reader(call)
    b = r.read_bool
    reserved, ped_anims, interior_weapons, limit_chat = b(), b(), b(), b()
    chat_radius = r.read_f32()
    stunt = b()
    tag_distance = r.read_f32()
    no_enter_exits, tag_los, manual_engine = b(), b(), b()
    class_count = r.read_u32()
    player_id = r.read_u16()
    show_tags = b()
    marker_mode = r.read_u32()
    hour = r.read_u8()
    weather = r.read_u8()
    gravity = r.read_f32()
    lan = b()
    drop = r.read_i32()
    zero = r.read_bit()
    rates = [r.read_u32() for _ in range(5)]
    hostname = r.read_string8()
    models = r.read_bytes(212)
    friendly_fire = r.read_i32()
    return GameInit(reserved, ped_anims, interior_weapons, limit_chat, chat_radius, stunt,
                    tag_distance, no_enter_exits, tag_los, manual_engine, class_count, player_id,
                    show_tags, marker_mode, hour, weather, gravity, lan, drop, zero, *rates,
                    hostname, models, friendly_fire)


def decode_connection_rejected(call):
    return _reader(call).read_u8()


@dataclass
class PlayerJoined:
    player_id: int
    colour: int
    is_npc: bool
    name: bytes


def decode_player_joined(call):
    r = _reader(call)
    pid = r.read_u16()
    colour = r.read_u32()
    npc = r.read_u8() != 0
    name = r.read_string8()
    return PlayerJoined(pid, colour, npc, name)


@dataclass
class PlayerLeft:
    player_id: int
    reason: int


def decode_player_left(call):
    r = _reader(call)
    return PlayerLeft(r.read_u16(), r.read_u8())


@dataclass
class ClientMessage:
    colour: int
    text: bytes


def decode_client_message(call, limit=4096):
    r = _reader(call)
    colour = r.read_u32()
    return ClientMessage(colour, r.read_string32(limit))


@dataclass
class ChatLine:
    player_id: int
    text: bytes


def decode_chat_text(call):
    r = _reader(call)
    pid = r.read_u16()
    return ChatLine(pid, r.read_string8())


SPAWN_INFO_FORMAT = "<BiiB3ff3i3i"
SPAWN_INFO_SIZE = struct.calcsize(SPAWN_INFO_FORMAT)
assert SPAWN_INFO_SIZE == 50


@dataclass
class SpawnInfo:
    team: int
    skin: int
    custom_skin: int
    one: int
    position: tuple
    facing_angle: float
    weapons: tuple
    ammo: tuple

    @classmethod
    def unpack(cls, data):
        if len(data) != SPAWN_INFO_SIZE:
            raise WireError("a spawn record is %d bytes, not %d" % (SPAWN_INFO_SIZE, len(data)))
        v = struct.unpack(SPAWN_INFO_FORMAT, data)
        return cls(v[0], v[1], v[2], v[3], tuple(v[4:7]), v[7], tuple(v[8:11]),
                   tuple(v[11:14]))

    def pack(self):
        return struct.pack(SPAWN_INFO_FORMAT, self.team, self.skin, self.custom_skin,
                           self.one & 0xFF, *self.position,
                           self.facing_angle, *self.weapons, *self.ammo)


@dataclass
class ClassReply:
    allowed: int
    spawn: SpawnInfo


def decode_class_reply(call):
    r = _reader(call)
    allowed = r.read_u8()
    return ClassReply(allowed, SpawnInfo.unpack(r.read_bytes(SPAWN_INFO_SIZE)))


def decode_spawn_reply(call):
    return _reader(call).read_u8()
