#pragma once

// For each entity of a kind, the players who have it streamed in, in ascending id: whoever sends
// to the audience of one vehicle walks its few viewers instead of every player, and reaches them
// in the same order as a walk over all ids would.

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace velt {

class StreamerSets {
public:
    explicit StreamerSets(uint16_t capacity) : sets_(capacity) {}

    void Add(uint16_t entity, uint16_t viewer) {
        if (entity >= sets_.size()) return;
        std::vector<uint16_t>& set = sets_[entity];
        auto at = std::lower_bound(set.begin(), set.end(), viewer);
        if (at == set.end() || *at != viewer) set.insert(at, viewer);
    }
    void Remove(uint16_t entity, uint16_t viewer) {
        if (entity >= sets_.size()) return;
        std::vector<uint16_t>& set = sets_[entity];
        auto at = std::lower_bound(set.begin(), set.end(), viewer);
        if (at != set.end() && *at == viewer) set.erase(at);
    }
    std::span<const uint16_t> Of(uint16_t entity) const {
        if (entity >= sets_.size()) return {};
        return sets_[entity];
    }

private:
    std::vector<std::vector<uint16_t>> sets_;
};

}  // namespace velt
