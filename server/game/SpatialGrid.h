#pragma once

// Which entities may be near a point on the ground plane, without looking at all of them: entities
// sit in square cells a little wider than the distance asked about, so a query reads the 3x3 cells
// around the point. The answer is a superset: the caller still measures each candidate exactly as
// it would without the grid, so the grid changes what is looked at, never what is decided.
//
// Positions come from clients and scripts and cannot be trusted: a NaN coordinate is in no cell
// (nothing is ever within range of it), and coordinates far outside the world share the cells at
// the grid's edge, so the number of cells stays bounded by the number of entities.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace velt {

class SpatialGrid {
public:
    // Ids 0..capacity-1.
    explicit SpatialGrid(uint16_t capacity);

    // Puts the entity at (x, y), or moves it there.
    void Place(uint16_t id, float x, float y);
    // An entity whose position the caller works out otherwise: a candidate for every query.
    void PlaceEverywhere(uint16_t id);
    void Remove(uint16_t id);
    void Clear();

    // Appends to out every entity that may be within range of (x, y) in two dimensions: every one
    // whose squared distance, as float arithmetic computes it, is at most range squared, and
    // perhaps others. The ids are in no particular order and appear once each.
    void Candidates(float x, float y, float range, std::vector<uint16_t>& out);

    size_t CellCount() const { return cells_.size(); }

private:
    struct Entry {
        float x = 0.0f, y = 0.0f;
        uint64_t cell = 0;
        uint32_t slot = 0;  // index within its cell's list, or within everywhere_
        enum : uint8_t { Absent, InCell, Everywhere } where = Absent;
    };

    // The cell index of a coordinate, kept within the grid's edge.
    int32_t CellOf(double coordinate) const;
    static uint64_t Key(int32_t cx, int32_t cy);
    void Unlink(uint16_t id);
    void Link(uint16_t id);
    // A new cell width for a new range: every placed entity goes to its new cell.
    void Resize(double cellSize);

    std::vector<Entry> entries_;
    std::unordered_map<uint64_t, std::vector<uint16_t>> cells_;
    std::vector<uint16_t> everywhere_;
    double cellSize_ = 0.0;
    float range_ = -1.0f;
};

}  // namespace velt
