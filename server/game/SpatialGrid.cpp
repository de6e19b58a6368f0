#include "server/game/SpatialGrid.h"

#include <algorithm>
#include <cmath>

namespace velt {

namespace {

// Cells per side of the origin; far beyond the world at any cell width, and small enough that a
// cell index never overflows. Whatever lies beyond shares the edge cells.
constexpr double kCellLimit = double(1 << 20);
// The cells are a little wider than the range: float rounding may find a pair in range whose true
// distance is a hair beyond it, and such a pair must still be in neighbouring cells.
constexpr double kRangeSlack = 1.0 / 1024.0;
constexpr double kMinCellSize = 1.0;
constexpr float kDefaultRange = 200.0f;

double CellSizeFor(float range) {
    return std::max(double(std::fabs(range)) * (1.0 + kRangeSlack) + 1.0, kMinCellSize);
}

}  // namespace

SpatialGrid::SpatialGrid(uint16_t capacity) : entries_(capacity), cellSize_(CellSizeFor(kDefaultRange)) {
    range_ = kDefaultRange;
}

int32_t SpatialGrid::CellOf(double coordinate) const {
    const double cell = std::floor(coordinate / cellSize_);
    return int32_t(std::clamp(cell, -kCellLimit, kCellLimit));
}

uint64_t SpatialGrid::Key(int32_t cx, int32_t cy) { return uint64_t(uint32_t(cx)) << 32 | uint32_t(cy); }

void SpatialGrid::Unlink(uint16_t id) {
    Entry& e = entries_[id];
    std::vector<uint16_t>* list = nullptr;
    if (e.where == Entry::InCell) {
        auto found = cells_.find(e.cell);
        if (found != cells_.end()) list = &found->second;
    } else if (e.where == Entry::Everywhere) {
        list = &everywhere_;
    }
    if (list != nullptr) {
        // Order within a cell does not matter: the last one takes the leaver's place.
        const uint16_t moved = list->back();
        (*list)[e.slot] = moved;
        entries_[moved].slot = e.slot;
        list->pop_back();
        // Empty cells go, so that entities wandering over the map leave no trail of them.
        if (list->empty() && e.where == Entry::InCell) cells_.erase(e.cell);
    }
    e.where = Entry::Absent;
}

void SpatialGrid::Link(uint16_t id) {
    Entry& e = entries_[id];
    e.cell = Key(CellOf(double(e.x)), CellOf(double(e.y)));
    std::vector<uint16_t>& list = cells_[e.cell];
    e.slot = uint32_t(list.size());
    e.where = Entry::InCell;
    list.push_back(id);
}

void SpatialGrid::Place(uint16_t id, float x, float y) {
    if (id >= entries_.size()) return;
    Entry& e = entries_[id];
    if (std::isnan(x) || std::isnan(y)) {
        Unlink(id);
        return;
    }
    e.x = x;
    e.y = y;
    if (e.where == Entry::InCell && e.cell == Key(CellOf(double(x)), CellOf(double(y)))) return;
    Unlink(id);
    Link(id);
}

void SpatialGrid::PlaceEverywhere(uint16_t id) {
    if (id >= entries_.size() || entries_[id].where == Entry::Everywhere) return;
    Unlink(id);
    Entry& e = entries_[id];
    e.slot = uint32_t(everywhere_.size());
    e.where = Entry::Everywhere;
    everywhere_.push_back(id);
}

void SpatialGrid::Remove(uint16_t id) {
    if (id < entries_.size()) Unlink(id);
}

void SpatialGrid::Clear() {
    cells_.clear();
    everywhere_.clear();
    for (Entry& e : entries_) e.where = Entry::Absent;
}

void SpatialGrid::Resize(double cellSize) {
    cellSize_ = cellSize;
    cells_.clear();
    for (size_t id = 0; id < entries_.size(); ++id) {
        if (entries_[id].where == Entry::InCell) Link(uint16_t(id));
    }
}

void SpatialGrid::Candidates(float x, float y, float range, std::vector<uint16_t>& out) {
    out.insert(out.end(), everywhere_.begin(), everywhere_.end());
    // Nothing is within range of a NaN, nor within a NaN range.
    if (std::isnan(x) || std::isnan(y) || std::isnan(range)) return;
    if (range != range_) {
        range_ = range;
        Resize(CellSizeFor(range));
    }
    // The cells are at least as wide as the reach, so the reach spans at most three per side.
    const double reach = cellSize_;
    const int32_t x0 = CellOf(double(x) - reach), x1 = CellOf(double(x) + reach);
    const int32_t y0 = CellOf(double(y) - reach), y1 = CellOf(double(y) + reach);
    for (int32_t cx = x0; cx <= x1; ++cx) {
        for (int32_t cy = y0; cy <= y1; ++cy) {
            auto found = cells_.find(Key(cx, cy));
            if (found != cells_.end()) out.insert(out.end(), found->second.begin(), found->second.end());
        }
    }
}

}  // namespace velt
