#include "server/natives/TextDrawNatives.h"

#include "net/BitStream.h"
#include "server/natives/WorldNativeArgs.h"
#include "server/shared/GameRpc.h"
#include "server/world/PlayerTextDrawPool.h"
#include "server/world/TextDrawPool.h"

namespace velt {

namespace {

TextDrawPool* Draws() { return TheGameServer != nullptr ? TheGameServer->GetTextDrawPool() : nullptr; }

// The global text draw of the id argument, or null.
TextDrawPool* PoolWith(cell id) {
    TextDrawPool* pool = Draws();
    return pool != nullptr && pool->Exists(NativeId(id)) ? pool : nullptr;
}

// ---- styling: one setter serves the global and the per-player native of each attribute -------

// Where the record a styling native names is found, and where its values start.
struct GlobalDraw {
    static constexpr int kFirstValue = 2;  // (id, values...)
    static TextDrawAttributes* Find(const cell* params) {
        TextDrawPool* pool = Draws();
        return pool != nullptr ? pool->Attributes(NativeId(params[1])) : nullptr;
    }
};
struct PlayerDraw {
    static constexpr int kFirstValue = 3;  // (player, index, values...)
    static TextDrawAttributes* Find(const cell* params) {
        PlayerTextDrawPool* pool = NativePlayerPool(params[1], &Player::GetTextDrawPool);
        return pool != nullptr ? pool->Attributes(NativeId(params[2])) : nullptr;
    }
};

using Setter = void (*)(TextDrawAttributes&, const cell* values);

template <class Kind, int kValues, Setter set>
cell n_Style(VmInstance* vm, const cell* params) {
    if (!HasNativeArgs(vm, params, Kind::kFirstValue - 1 + kValues)) return 0;
    TextDrawAttributes* attributes = Kind::Find(params);
    if (attributes == nullptr) return 0;
    set(*attributes, params + Kind::kFirstValue);
    return 1;
}

void SetLetterSize(TextDrawAttributes& a, const cell* v) {
    a.letterWidth = CellToFloat(v[0]);
    a.letterHeight = CellToFloat(v[1]);
}
void SetTextSize(TextDrawAttributes& a, const cell* v) {
    a.textSizeX = CellToFloat(v[0]);
    a.textSizeY = CellToFloat(v[1]);
}
void SetAlignment(TextDrawAttributes& a, const cell* v) { a.SetAlignment(ByteArg(v[0])); }
void SetColour(TextDrawAttributes& a, const cell* v) { a.letterColour = ReverseColourBytes(ucell(v[0])); }
void SetUseBox(TextDrawAttributes& a, const cell* v) { a.SetFlag(TEXTDRAW_BOX, v[0] != 0); }
void SetBoxColour(TextDrawAttributes& a, const cell* v) { a.boxColour = ReverseColourBytes(ucell(v[0])); }
void SetShadow(TextDrawAttributes& a, const cell* v) { a.shadow = ByteArg(v[0]); }
void SetOutline(TextDrawAttributes& a, const cell* v) { a.outline = ByteArg(v[0]); }
void SetBackgroundColour(TextDrawAttributes& a, const cell* v) {
    a.backgroundColour = ReverseColourBytes(ucell(v[0]));
}
void SetFont(TextDrawAttributes& a, const cell* v) { a.font = ByteArg(v[0]); }
void SetProportional(TextDrawAttributes& a, const cell* v) { a.SetFlag(TEXTDRAW_PROPORTIONAL, v[0] != 0); }
void SetSelectable(TextDrawAttributes& a, const cell* v) { a.selectable = ByteArg(v[0]); }
void SetPreviewModel(TextDrawAttributes& a, const cell* v) { a.previewModel = int16_t(NativeId(v[0])); }
void SetPreviewRotation(TextDrawAttributes& a, const cell* v) {
    a.previewRotX = CellToFloat(v[0]);
    a.previewRotY = CellToFloat(v[1]);
    a.previewRotZ = CellToFloat(v[2]);
    a.previewZoom = CellToFloat(v[3]);
}
void SetPreviewColours(TextDrawAttributes& a, const cell* v) {
    a.previewColour1 = int16_t(NativeId(v[0]));
    a.previewColour2 = int16_t(NativeId(v[1]));
}

// ---- global text draws ------------------------------------------------------------------------

// TextDrawCreate(Float:x, Float:y, text[]): the id, 0xFFFF when the pool is full or missing.
cell n_TextDrawCreate(VmInstance* vm, const cell* params) {
    TextDrawPool* pool = Draws();
    if (pool == nullptr || !HasNativeArgs(vm, params, 3)) return kNoTextDraw;
    return pool->Create(CellToFloat(params[1]), CellToFloat(params[2]),
                        TextArg(vm, params[3], kMaxTextDrawText));
}

cell n_TextDrawDestroy(VmInstance* vm, const cell* params) {
    TextDrawPool* pool = HasNativeArgs(vm, params, 1) ? PoolWith(params[1]) : nullptr;
    if (pool == nullptr) return 0;
    pool->Destroy(NativeId(params[1]));
    return 1;
}

cell n_TextDrawSetString(VmInstance* vm, const cell* params) {
    TextDrawPool* pool = HasNativeArgs(vm, params, 2) ? PoolWith(params[1]) : nullptr;
    if (pool == nullptr) return 0;
    pool->SetString(NativeId(params[1]), TextArg(vm, params[2], kMaxTextDrawText));
    return 1;
}

// TextDrawShowForPlayer(player, id) and TextDrawHideForPlayer(player, id).
template <void (TextDrawPool::*act)(uint16_t player, uint16_t id)>
cell n_TextDrawForPlayer(VmInstance* vm, const cell* params) {
    TextDrawPool* pool = HasNativeArgs(vm, params, 2) ? PoolWith(params[2]) : nullptr;
    if (pool == nullptr || NativeConnectedPlayer(params[1]) == nullptr) return 0;
    (pool->*act)(NativeId(params[1]), NativeId(params[2]));
    return 1;
}

// TextDrawShowForAll(id) and TextDrawHideForAll(id).
template <void (TextDrawPool::*act)(uint16_t id)>
cell n_TextDrawForAll(VmInstance* vm, const cell* params) {
    TextDrawPool* pool = HasNativeArgs(vm, params, 1) ? PoolWith(params[1]) : nullptr;
    if (pool == nullptr) return 0;
    (pool->*act)(NativeId(params[1]));
    return 1;
}

// Selection mode: one bit on or off, then the colour a text draw takes under the mouse (as given).
cell SendSelectMode(cell player, bool on, uint32_t hoverColour) {
    if (NativeConnectedPlayer(player) == nullptr) return 0;
    BitStream bs;
    bs.Write(on);
    bs.Write(hoverColour);
    TheGameServer->SendRpcToPlayer(RPC_TextDrawSelect, &bs, NativeId(player), RpcChannel::World);
    return 1;
}

cell n_SelectTextDraw(VmInstance* vm, const cell* params) {
    return HasNativeArgs(vm, params, 2) ? SendSelectMode(params[1], true, ucell(params[2])) : 0;
}

cell n_CancelSelectTextDraw(VmInstance* vm, const cell* params) {
    return HasNativeArgs(vm, params, 1) ? SendSelectMode(params[1], false, 0) : 0;
}

// ---- a player's own text draws ----------------------------------------------------------------

// CreatePlayerTextDraw(player, Float:x, Float:y, text[]): the index; 0 for a player who is not
// connected, 0xFFFF when his text draws are all taken.
cell n_CreatePlayerTextDraw(VmInstance* vm, const cell* params) {
    Player* player = HasNativeArgs(vm, params, 4) ? NativeConnectedPlayer(params[1]) : nullptr;
    if (player == nullptr) return 0;
    PlayerTextDrawPool* pool = player->GetTextDrawPool();
    if (pool == nullptr) return kNoTextDraw;
    return pool->Create(CellToFloat(params[2]), CellToFloat(params[3]),
                        TextArg(vm, params[4], kMaxTextDrawText));
}

cell n_PlayerTextDrawSetString(VmInstance* vm, const cell* params) {
    PlayerTextDrawPool* pool = HasNativeArgs(vm, params, 3)
                                   ? NativePlayerPoolWith(params[1], &Player::GetTextDrawPool, params[2])
                                   : nullptr;
    if (pool == nullptr) return 0;
    pool->SetString(NativeId(params[2]), TextArg(vm, params[3], kMaxTextDrawText));
    return 1;
}

// PlayerTextDrawShow, PlayerTextDrawHide and PlayerTextDrawDestroy (player, index).
template <void (PlayerTextDrawPool::*act)(uint16_t index)>
cell n_PlayerTextDrawAct(VmInstance* vm, const cell* params) {
    PlayerTextDrawPool* pool = HasNativeArgs(vm, params, 2)
                                   ? NativePlayerPoolWith(params[1], &Player::GetTextDrawPool, params[2])
                                   : nullptr;
    if (pool == nullptr) return 0;
    (pool->*act)(NativeId(params[2]));
    return 1;
}

// The global native "TextDraw<suffix>" and its per-player twin "PlayerTextDraw<suffix>".
#define VELT_TEXTDRAW_STYLE(suffix, values, setter)                  \
    {"TextDraw" suffix, n_Style<GlobalDraw, values, setter>}, {      \
        "PlayerTextDraw" suffix, n_Style<PlayerDraw, values, setter> \
    }

const VmNativeEntry kTextDrawNatives[] = {
    {"TextDrawCreate", n_TextDrawCreate},
    {"TextDrawDestroy", n_TextDrawDestroy},
    {"TextDrawSetString", n_TextDrawSetString},
    {"TextDrawShowForPlayer", n_TextDrawForPlayer<&TextDrawPool::ShowForPlayer>},
    {"TextDrawHideForPlayer", n_TextDrawForPlayer<&TextDrawPool::HideForPlayer>},
    {"TextDrawShowForAll", n_TextDrawForAll<&TextDrawPool::ShowForAll>},
    {"TextDrawHideForAll", n_TextDrawForAll<&TextDrawPool::HideForAll>},
    {"SelectTextDraw", n_SelectTextDraw},
    {"CancelSelectTextDraw", n_CancelSelectTextDraw},
    {"CreatePlayerTextDraw", n_CreatePlayerTextDraw},
    {"PlayerTextDrawDestroy", n_PlayerTextDrawAct<&PlayerTextDrawPool::Destroy>},
    {"PlayerTextDrawSetString", n_PlayerTextDrawSetString},
    {"PlayerTextDrawShow", n_PlayerTextDrawAct<&PlayerTextDrawPool::Show>},
    {"PlayerTextDrawHide", n_PlayerTextDrawAct<&PlayerTextDrawPool::Hide>},
    VELT_TEXTDRAW_STYLE("LetterSize", 2, SetLetterSize),
    VELT_TEXTDRAW_STYLE("TextSize", 2, SetTextSize),
    VELT_TEXTDRAW_STYLE("Alignment", 1, SetAlignment),
    VELT_TEXTDRAW_STYLE("Color", 1, SetColour),
    VELT_TEXTDRAW_STYLE("UseBox", 1, SetUseBox),
    VELT_TEXTDRAW_STYLE("BoxColor", 1, SetBoxColour),
    VELT_TEXTDRAW_STYLE("SetShadow", 1, SetShadow),
    VELT_TEXTDRAW_STYLE("SetOutline", 1, SetOutline),
    VELT_TEXTDRAW_STYLE("BackgroundColor", 1, SetBackgroundColour),
    VELT_TEXTDRAW_STYLE("Font", 1, SetFont),
    VELT_TEXTDRAW_STYLE("SetProportional", 1, SetProportional),
    VELT_TEXTDRAW_STYLE("SetSelectable", 1, SetSelectable),
    VELT_TEXTDRAW_STYLE("SetPreviewModel", 1, SetPreviewModel),
    VELT_TEXTDRAW_STYLE("SetPreviewRot", 4, SetPreviewRotation),
    VELT_TEXTDRAW_STYLE("SetPreviewVehCol", 2, SetPreviewColours),
};

#undef VELT_TEXTDRAW_STYLE

}  // namespace

ScriptNativeRows TextDrawNatives() { return kTextDrawNatives; }

}  // namespace velt
