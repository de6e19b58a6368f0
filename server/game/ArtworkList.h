#pragma once

// Custom models: pairs of files in the artwork folder ("artpath") that stand in for existing
// models. The list comes from "artconfig.txt" in that folder and from scripts; every joining player
// receives it, and a client that lacks a file asks for it by its CRC-32 and downloads it through
// its FileDownload. A model's index in the list is its identity on the wire.
//
// File names come from the configuration and from scripts and are later served to any client, so
// only names that stay inside the artwork folder are accepted.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velt {

class BitStream;

enum ArtworkType : uint8_t {
    ARTWORK_CHARACTER = 1,
    ARTWORK_SIMPLE = 2,
    ARTWORK_TEXTURE = 4,
};

// Longest artwork folder and model file name kept; the configuration keeps one character less.
inline constexpr size_t kMaxArtworkName = 260;
inline constexpr size_t kMaxArtworkConfigName = 259;
inline constexpr size_t kMaxArtworkConfigLine = 511;
// The list never grows beyond this many slots (scripts add models at run time).
inline constexpr size_t kMaxArtworkModels = 65536;

struct ArtworkModel {
    uint8_t type = 0;
    int32_t world = 0;  // simple models; -1 for character models, 0 for textures
    int32_t baseId = 0;
    int32_t newId = 0;
    std::string firstName;   // model file; a texture's name (not a file)
    std::string secondName;  // texture file
    uint32_t firstCrc = 0;   // of the file, or of a texture's name text
    uint32_t secondCrc = 0;
    int32_t firstSize = 0;  // 0 for a texture
    int32_t secondSize = 0;
    uint8_t timeOn = 0;  // hours a timed simple model shows; 0 and 0 when untimed
    uint8_t timeOff = 0;
};

// True for a name that stays inside the folder it is looked up in: not empty, not absolute, no
// ".." part and no control character.
bool IsContainedFileName(const std::string& name);

class ArtworkList {
public:
    explicit ArtworkList(const char* directory);

    const std::string& Directory() const { return directory_; }

    // Reads "<directory>/<fileName>" line by line; false (and nothing logged) when it is missing.
    bool LoadConfig(const char* fileName);
    // One configuration line: AddCharModel(base, new, dff, txd), AddSimpleModel(world, base, new,
    // dff, txd) or AddTexture(name, txd); any other line is ignored.
    void ParseLine(const char* line);

    // Checks both files (CRC and size, logged) and stores the model in the first free slot, told
    // to every player when the game runs. The model's index, or -1 when a file is bad.
    int32_t AddModel(uint8_t type, int32_t world, int32_t baseId, int32_t newId, const char* firstName,
                     const char* secondName, uint8_t timeOn, uint8_t timeOff);
    // Empties the slot and drops the free slots at the end; the index, or -1 for a free or absent one.
    int32_t RemoveModel(int32_t index);
    void RemoveModelsById(int32_t newId);

    // Base id of the first model with that new id; -1 when there is none.
    int32_t GetBaseModel(int32_t newId) const;
    const ArtworkModel* FindByDffCrc(uint32_t crc) const;
    const ArtworkModel* FindByTxdCrc(uint32_t crc) const;
    // Slots, free ones included (null).
    size_t Size() const { return models_.size(); }
    const ArtworkModel* At(size_t index) const {
        return index < models_.size() ? models_[index].get() : nullptr;
    }

    // Every model to a joining player.
    void SendModelsToPlayer(uint16_t player) const;
    // A client asks for a file it lacks (kind 1 model file, 2 texture file): the scripts may
    // refuse or redirect it, otherwise the file is sent.
    void HandleDownloadRequest(uint16_t player, uint8_t kind, uint32_t crc) const;
    void StartDownload(uint8_t kind, uint32_t crc, const std::string& path, int32_t size,
                       uint16_t player) const;

private:
    std::string PathOf(const std::string& name) const { return directory_ + "/" + name; }
    void WriteModelAdd(BitStream& bs, size_t index) const;

    std::string directory_;
    std::vector<std::unique_ptr<ArtworkModel>> models_;
};

}  // namespace velt
