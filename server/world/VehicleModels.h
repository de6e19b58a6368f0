#pragma once

// What the server knows of the game's vehicle models and tuning parts: the model range, which
// models are trains, which part fits which slot of which model, and the per-model size and
// placement values scripts may ask for.

#include <cstdint>
#include <optional>

#include "server/shared/VectorMath.h"

namespace velt {

inline constexpr int32_t kFirstVehicleModel = 400;
inline constexpr int kVehicleModelCount = 212;  // models 400..611
inline constexpr int32_t kLastVehicleModel = kFirstVehicleModel + kVehicleModelCount - 1;

inline constexpr int32_t kFirstComponent = 1000;
inline constexpr int kComponentCount = 194;  // components 1000..1193
inline constexpr int kComponentSlots = 14;
// The slot of the part a client may buy but a vehicle never keeps.
inline constexpr int kUnstoredComponentSlot = 8;

inline bool IsVehicleModel(int32_t model) {
    return model >= kFirstVehicleModel && model <= kLastVehicleModel;
}
// The two locomotives.
inline bool IsTrainEngine(int32_t model) { return model == 537 || model == 538; }
// Their carriages, never streamed by distance: they travel with their engine.
inline bool IsTrainCarriage(int32_t model) { return model == 569 || model == 570; }
// Anything that runs on the rails and follows an engine's synchronisation.
inline bool IsRailVehicle(int32_t model) {
    return model == 449 || IsTrainEngine(model) || IsTrainCarriage(model);
}

// The slot (0..13) of a component of 1000..1193, -1 for any other value.
int ComponentSlot(int32_t component);
// Whether the component exists and fits a vehicle of the model (some parts fit every model, the
// others one model each).
bool ComponentFitsModel(int32_t component, int32_t model);

// Kinds 1..7 are the model's seven stored vectors; 8 and 9 give (0, 0, f) for its two single
// values. Nothing for a model outside 400..611, a kind outside 1..9, or a model whose values this
// server does not ship.
std::optional<Vector3> VehicleModelInfo(int32_t model, int32_t kind);

}  // namespace velt
