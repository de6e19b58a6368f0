// The custom-model natives: scripts add character and object models to the artwork list while the
// server runs, look model files up by CRC and send a player's download elsewhere. Without custom
// models ("useartwork" 0) every one of them returns 0.

#include <string>

#include "server/game/ArtworkList.h"
#include "server/game/FileDownload.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/natives/ScriptNatives.h"

namespace velt {

namespace {

ArtworkList* Artwork() { return TheGameServer != nullptr ? TheGameServer->GetArtworkList() : nullptr; }

// A text argument cut to what a model name holds; empty for a bad address.
std::string NameArg(VmInstance* vm, cell address) {
    std::string text;
    ReadScriptString(vm, address, text);
    if (text.size() > kMaxArtworkName) text.resize(kMaxArtworkName);
    return text;
}

// The add natives' common part: both names must be given. The model's index, or 0 on failure.
cell AddModel(VmInstance* vm, ArtworkList* artwork, uint8_t type, int32_t world, int32_t baseId,
              int32_t newId, cell dff, cell txd, uint8_t timeOn, uint8_t timeOff) {
    const std::string first = NameArg(vm, dff);
    const std::string second = NameArg(vm, txd);
    if (first.empty() || second.empty()) return 0;
    const int32_t index =
        artwork->AddModel(type, world, baseId, newId, first.c_str(), second.c_str(), timeOn, timeOff);
    return index < 0 ? 0 : index;
}

// AddCharModel(baseid, newid, dff[], txd[])
cell n_AddCharModel(VmInstance* vm, const cell* params) {
    ArtworkList* artwork = Artwork();
    if (artwork == nullptr || !HasNativeArgs(vm, params, 4)) return 0;
    return AddModel(vm, artwork, ARTWORK_CHARACTER, -1, params[1], params[2], params[3], params[4], 0, 0);
}

// AddSimpleModel(virtualworld, baseid, newid, dff[], txd[])
cell n_AddSimpleModel(VmInstance* vm, const cell* params) {
    ArtworkList* artwork = Artwork();
    if (artwork == nullptr || !HasNativeArgs(vm, params, 5)) return 0;
    return AddModel(vm, artwork, ARTWORK_SIMPLE, params[1], params[2], params[3], params[4], params[5], 0, 0);
}

// AddSimpleModelTimed(virtualworld, baseid, newid, dff[], txd[], timeon, timeoff)
cell n_AddSimpleModelTimed(VmInstance* vm, const cell* params) {
    ArtworkList* artwork = Artwork();
    if (artwork == nullptr || !HasNativeArgs(vm, params, 7)) return 0;
    return AddModel(vm, artwork, ARTWORK_SIMPLE, params[1], params[2], params[3], params[4], params[5],
                    uint8_t(params[6] & 0xFF), uint8_t(params[7] & 0xFF));
}

// Find...FileNameFromCRC(crc, name[], size): the file name into the script's array.
template <const ArtworkModel* (ArtworkList::*Find)(uint32_t) const, std::string ArtworkModel::*Name>
cell n_FindFileNameFromCrc(VmInstance* vm, const cell* params) {
    ArtworkList* artwork = Artwork();
    if (artwork == nullptr || !HasNativeArgs(vm, params, 3)) return 0;
    const ArtworkModel* model = (artwork->*Find)(static_cast<uint32_t>(params[1]));
    if (model == nullptr) return 0;
    SetScriptString(vm, params[2], (model->*Name).c_str(), params[3]);
    return 1;
}

// RedirectDownload(playerid, url[]): the player's pending download goes to the web address.
cell n_RedirectDownload(VmInstance* vm, const cell* params) {
    ArtworkList* artwork = Artwork();
    if (artwork == nullptr || !HasNativeArgs(vm, params, 2)) return 0;
    PlayerPool* pool = TheGameServer->GetPlayerPool();
    const uint16_t id = static_cast<uint16_t>(static_cast<ucell>(params[1]) & 0xFFFFu);
    Player* player = pool != nullptr && pool->IsConnected(id) ? pool->GetAt(id) : nullptr;
    if (player == nullptr) return 0;
    char url[kMaxRedirectUrl + 1];
    if (ReadScriptString(vm, params[2], url, sizeof url) == 0) return 0;
    player->Download().Redirect(url);
    return 1;
}

const VmNativeEntry kCustomModelNatives[] = {
    {"AddCharModel", n_AddCharModel},
    {"AddSimpleModel", n_AddSimpleModel},
    {"AddSimpleModelTimed", n_AddSimpleModelTimed},
    {"FindModelFileNameFromCRC", n_FindFileNameFromCrc<&ArtworkList::FindByDffCrc, &ArtworkModel::firstName>},
    {"FindTextureFileNameFromCRC",
     n_FindFileNameFromCrc<&ArtworkList::FindByTxdCrc, &ArtworkModel::secondName>},
    {"RedirectDownload", n_RedirectDownload},
};

}  // namespace

ScriptNativeRows CustomModelNatives() { return kCustomModelNatives; }

}  // namespace velt
