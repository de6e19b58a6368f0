#include "server/game/ArtworkList.h"

#include <cstdio>
#include <cstring>

#include "net/BitStream.h"
#include "server/console/ConsoleVariable.h"
#include "server/console/Log.h"
#include "server/game/Crc32.h"
#include "server/game/FileDownload.h"
#include "server/game/GameServer.h"
#include "server/game/PlayerPool.h"
#include "server/game/RaiseCallback.h"
#include "server/shared/GameRpc.h"

namespace velt {

namespace {

// A configuration file name keeps only the characters from '-' to 'z': blanks, quotes and the
// separators of the line drop out.
std::string CleanConfigName(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch >= '-' && ch <= 'z' && out.size() < kMaxArtworkConfigName) out.push_back(ch);
    }
    return out;
}

std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    for (;;) {
        const size_t comma = text.find(',', pos);
        out.push_back(text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        if (comma == std::string::npos) return out;
        pos = comma + 1;
    }
}

int32_t Number(const std::string& text) { return ParseConsoleInt(text.c_str()); }

bool StartsWith(const char* line, const char* keyword) {
    return std::strncmp(line, keyword, std::strlen(keyword)) == 0;
}

// CRC and size of one model file, logged; false for a file that cannot be served.
bool CheckFile(const std::string& directory, const std::string& name, uint32_t& crc, int32_t& size) {
    FileCrc file;
    if (IsContainedFileName(name)) file = FileCrc32((directory + "/" + name).c_str());
    LogPrintf("[artwork:crc] %s CRC = 0x%X", name.c_str(), file.crc);
    crc = file.crc;
    size = file.size;
    if (file.size != 0) return true;
    LogPrintf("[artwork:error] Bad file: %s", name.c_str());
    return false;
}

}  // namespace

bool IsContainedFileName(const std::string& name) {
    if (name.empty() || name.front() == '/') return false;
    for (unsigned char ch : name)
        if (ch < 0x20 || ch == 0x7F) return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = name.find('/', start);
        const size_t end = slash == std::string::npos ? name.size() : slash;
        if (name.compare(start, end - start, "..") == 0) return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

ArtworkList::ArtworkList(const char* directory)
    : directory_(directory != nullptr ? std::string(directory, strnlen(directory, kMaxArtworkName)) : "") {}

bool ArtworkList::LoadConfig(const char* fileName) {
    std::FILE* f = std::fopen(PathOf(fileName != nullptr ? fileName : "").c_str(), "re");
    if (f == nullptr) return false;
    // Lines are read whole; only the first kMaxArtworkConfigLine characters of one count, so the
    // rest of an over-long line is never read as a line of its own.
    std::string line;
    bool more = true;
    while (more) {
        line.clear();
        int ch;
        while ((ch = std::fgetc(f)) != EOF && ch != '\n')
            if (line.size() < kMaxArtworkConfigLine) line.push_back(char(ch));
        if (ch == EOF) more = false;
        line.resize(std::strlen(line.c_str()));
        if (!line.empty()) ParseLine(line.c_str());
    }
    std::fclose(f);
    return true;
}

void ArtworkList::ParseLine(const char* line) {
    if (line == nullptr) return;
    const std::string text(line, strnlen(line, kMaxArtworkConfigLine));
    enum { None, Character, Simple, Texture } kind = None;
    if (StartsWith(line, "AddCharModel"))
        kind = Character;
    else if (StartsWith(line, "AddSimpleModel"))
        kind = Simple;
    else if (StartsWith(line, "AddTexture"))
        kind = Texture;
    if (kind == None) return;
    const size_t open = text.find('(');
    const size_t close = open == std::string::npos ? open : text.find(')', open);
    if (close == std::string::npos) return;
    const std::vector<std::string> args = SplitArguments(text.substr(open + 1, close - open - 1));
    const size_t needed = kind == Character ? 4 : kind == Simple ? 5 : 2;
    if (args.size() < needed) {
        LogPrintf("[artwork:error] Bad line: %s", text.c_str());
        return;
    }
    switch (kind) {
        case Character:
            AddModel(ARTWORK_CHARACTER, -1, Number(args[0]), Number(args[1]),
                     CleanConfigName(args[2]).c_str(), CleanConfigName(args[3]).c_str(), 0, 0);
            break;
        case Simple:
            AddModel(ARTWORK_SIMPLE, Number(args[0]), Number(args[1]), Number(args[2]),
                     CleanConfigName(args[3]).c_str(), CleanConfigName(args[4]).c_str(), 0, 0);
            break;
        case Texture:
            AddModel(ARTWORK_TEXTURE, 0, 0, 0, CleanConfigName(args[0]).c_str(),
                     CleanConfigName(args[1]).c_str(), 0, 0);
            break;
        case None: break;
    }
}

int32_t ArtworkList::AddModel(uint8_t type, int32_t world, int32_t baseId, int32_t newId,
                              const char* firstName, const char* secondName, uint8_t timeOn,
                              uint8_t timeOff) {
    auto model = std::make_unique<ArtworkModel>();
    model->type = type;
    model->world = world;
    model->baseId = baseId;
    model->newId = newId;
    model->firstName.assign(firstName != nullptr ? firstName : "",
                            firstName != nullptr ? strnlen(firstName, kMaxArtworkName) : 0);
    model->secondName.assign(secondName != nullptr ? secondName : "",
                             secondName != nullptr ? strnlen(secondName, kMaxArtworkName) : 0);
    model->timeOn = timeOn;
    model->timeOff = timeOff;
    if (type == ARTWORK_TEXTURE) {
        model->firstCrc = Crc32(model->firstName.data(), model->firstName.size());
    } else if (!CheckFile(directory_, model->firstName, model->firstCrc, model->firstSize)) {
        return -1;
    }
    if (!CheckFile(directory_, model->secondName, model->secondCrc, model->secondSize)) return -1;

    size_t index = 0;
    while (index < models_.size() && models_[index] != nullptr) ++index;
    if (index >= kMaxArtworkModels) {
        LogPrintf("[artwork:error] Too many models: %s not added", model->firstName.c_str());
        return -1;
    }
    if (index == models_.size()) models_.emplace_back();
    models_[index] = std::move(model);

    if (GameServer* game = TheGameServer) {
        BitStream bs;
        WriteModelAdd(bs, index);
        game->SendRpcToAll(RPC_CustomModelAdd, &bs, kNoPlayer, RpcChannel::World);
    }
    return int32_t(index);
}

int32_t ArtworkList::RemoveModel(int32_t index) {
    if (index < 0 || size_t(index) >= models_.size() || models_[size_t(index)] == nullptr) return -1;
    const std::unique_ptr<ArtworkModel> model = std::move(models_[size_t(index)]);
    while (!models_.empty() && models_.back() == nullptr) models_.pop_back();
    if (GameServer* game = TheGameServer) {
        BitStream bs;
        bs.Write(uint32_t(index));
        bs.Write(model->type);
        bs.Write(model->world);
        bs.Write(model->baseId);
        bs.Write(model->newId);
        bs.Write(model->firstCrc);
        bs.Write(model->secondCrc);
        bs.Write(model->firstSize);
        bs.Write(model->secondSize);
        game->SendRpcToAll(RPC_CustomModelRemove, &bs, kNoPlayer, RpcChannel::World);
    }
    return index;
}

void ArtworkList::RemoveModelsById(int32_t newId) {
    for (size_t i = models_.size(); i-- > 0;)
        if (i < models_.size() && models_[i] != nullptr && models_[i]->newId == newId)
            RemoveModel(int32_t(i));
}

int32_t ArtworkList::GetBaseModel(int32_t newId) const {
    for (const auto& m : models_)
        if (m != nullptr && m->newId == newId) return m->baseId;
    return -1;
}

const ArtworkModel* ArtworkList::FindByDffCrc(uint32_t crc) const {
    for (const auto& m : models_)
        if (m != nullptr && m->firstCrc == crc) return m.get();
    return nullptr;
}

const ArtworkModel* ArtworkList::FindByTxdCrc(uint32_t crc) const {
    for (const auto& m : models_)
        if (m != nullptr && m->secondCrc == crc) return m.get();
    return nullptr;
}

void ArtworkList::WriteModelAdd(BitStream& bs, size_t index) const {
    const ArtworkModel& m = *models_[index];
    bs.Write(uint32_t(index));
    bs.Write(uint32_t(models_.size()));
    bs.Write(m.type);
    bs.Write(m.world);
    bs.Write(m.baseId);
    bs.Write(m.newId);
    bs.Write(m.firstCrc);
    bs.Write(m.secondCrc);
    bs.Write(m.firstSize);
    bs.Write(m.secondSize);
    bs.Write(m.timeOn);
    bs.Write(m.timeOff);
}

void ArtworkList::SendModelsToPlayer(uint16_t player) const {
    GameServer* game = TheGameServer;
    if (game == nullptr) return;
    for (size_t i = 0; i < models_.size(); ++i) {
        if (models_[i] == nullptr) continue;
        BitStream bs;
        WriteModelAdd(bs, i);
        game->SendRpcToPlayer(RPC_CustomModelAdd, &bs, player, RpcChannel::World);
    }
}

void ArtworkList::HandleDownloadRequest(uint16_t player, uint8_t kind, uint32_t crc) const {
    GameServer* game = TheGameServer;
    PlayerPool* pool = game != nullptr ? game->GetPlayerPool() : nullptr;
    Player* p = pool != nullptr && pool->IsConnected(player) ? pool->GetAt(player) : nullptr;
    if (p == nullptr) return;
    p->Download().SetRequest(kind, crc);
    const CallbackOutcome asked = RaiseCallback(
        *game, {.stop = CallbackStop::AtZero, .initial = 1}, [&] { return pool->IsConnected(player); },
        [&](auto& side) { return side.OnPlayerRequestDownload(player, kind, int32_t(crc)); });
    // A script may have kicked the player: the record is gone for good.
    p = pool->IsConnected(player) ? pool->GetAt(player) : nullptr;
    if (p == nullptr || p->IsRetired()) return;
    FileDownload& download = p->Download();
    if (download.IsRedirected()) return;
    if (asked.result == 0) {
        download.SendFailed();
        return;
    }
    const ArtworkModel* model = kind == DOWNLOAD_MODEL_FILE     ? FindByDffCrc(crc)
                                : kind == DOWNLOAD_TEXTURE_FILE ? FindByTxdCrc(crc)
                                                                : nullptr;
    if (model == nullptr) {
        download.SendFailed();
        return;
    }
    const bool first = kind == DOWNLOAD_MODEL_FILE;
    StartDownload(kind, crc, PathOf(first ? model->firstName : model->secondName),
                  first ? model->firstSize : model->secondSize, player);
}

void ArtworkList::StartDownload(uint8_t kind, uint32_t crc, const std::string& path, int32_t size,
                                uint16_t player) const {
    GameServer* game = TheGameServer;
    PlayerPool* pool = game != nullptr ? game->GetPlayerPool() : nullptr;
    Player* p = pool != nullptr && pool->IsConnected(player) ? pool->GetAt(player) : nullptr;
    if (p != nullptr) p->Download().Start(kind, crc, path, size);
}

}  // namespace velt
