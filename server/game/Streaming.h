#pragma once

// The streaming pass of one player (Player::StreamingPass, Streaming.cpp) decides which other
// entities are near enough to be shown to him; the map markers (MapMarkers.cpp) tell him where the
// other players are. Both compare squared distances (on the ground plane, but for labels, which
// are seen within their draw distance in three dimensions), so no square root is taken per entity.

namespace velt {

inline float SquaredDistance2D(float ax, float ay, float bx, float by) {
    const float dx = ax - bx, dy = ay - by;
    return dx * dx + dy * dy;
}

}  // namespace velt
