#pragma once

// One placed model of the world: where it stands and how it is turned, the straight-line move it
// may be making, what it is attached to, the material replacements it carries, and the one message
// that describes all of that to a client. The object pool owns every object and is the only one
// that starts, steps and stops moves, since it keeps the list of moving objects in step with them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/shared/VectorMath.h"

namespace velt {

class BitStream;

inline constexpr uint16_t kNoObject = 0xFFFF;
// Owner of a global object: no player.
inline constexpr uint16_t kGlobalObjectOwner = 0xFFFF;
inline constexpr int kMaxObjectMaterials = 16;
// A model has at most 16 material slots; clients index a fixed table with the index.
inline constexpr uint8_t kMaxMaterialIndex = 15;
// Texture library, texture and font names are stored up to this many characters.
inline constexpr size_t kMaxMaterialName = 64;
// A rotation component at or below this in a move leaves the rotation as it was.
inline constexpr float kKeepRotation = -999.0f;
// Attached vehicle or object: none.
inline constexpr int16_t kNotAttached = -1;

enum class MaterialKind : uint8_t { Texture = 1, Text = 2 };

// Scripts give texture colours as 0xAARRGGBB; objects and worn objects keep and send them with red
// and blue exchanged (0xAABBGGRR).
constexpr uint32_t SwapRedAndBlue(uint32_t colour) {
    return (colour & 0xFF00FF00u) | (colour & 0xFFu) << 16 | (colour >> 16 & 0xFFu);
}

// One material slot: a texture taken from another model, or a text rendered onto the object.
struct ObjectMaterial {
    MaterialKind kind = MaterialKind::Texture;
    uint8_t index = 0;  // material index on the model
    // Texture kind.
    int16_t model = 0;
    uint32_t colour = 0;
    std::string libraryName;
    std::string textureName;
    // Text kind.
    uint8_t materialSize = 0;
    std::string fontFace;
    uint8_t fontSize = 0;
    uint8_t bold = 0;
    uint32_t fontColour = 0;
    uint32_t backgroundColour = 0;
    uint8_t alignment = 0;
    std::string text;  // any length; compressed on the wire
};

// The entry of one material as the create message and the material message carry it: kind, index,
// then the kind's fields; names with an 8-bit length and no terminator, the text compressed.
void WriteObjectMaterial(BitStream& bs, const ObjectMaterial& material);

// What an object is attached to. An object may carry both a vehicle and an object: each attach
// call sets its own side only.
struct ObjectAttachment {
    int16_t vehicle = kNotAttached;
    int16_t object = kNotAttached;
    Vector3 offset;
    Vector3 rotation;
    uint8_t syncRotation = 0;  // attached to an object: turns with it
};

class WorldObject {
public:
    WorldObject(uint16_t id, uint16_t owner, int32_t model, const Vector3& position, const Vector3& rotation,
                float drawDistance, bool noCameraCollision);

    uint16_t GetId() const { return id_; }
    // The player of a per-player object; kGlobalObjectOwner for a global one.
    uint16_t GetOwner() const { return owner_; }
    int32_t GetModel() const { return model_; }
    const Vector3& GetPosition() const { return position_; }
    void SetPosition(const Vector3& position) { position_ = position; }
    const Vector3& GetRotation() const { return rotation_; }
    void SetRotation(const Vector3& rotation) { rotation_ = rotation; }
    float GetDrawDistance() const { return drawDistance_; }
    bool IsMoving() const { return moving_; }
    const Vector3& GetTarget() const { return target_; }
    float GetSpeed() const { return speed_; }
    bool HasNoCameraCollision() const { return noCameraCollision_; }
    void SetNoCameraCollision() { noCameraCollision_ = true; }

    // Seconds a move to target at speed would take from here, or nothing when no move can be made:
    // a speed that is not a positive finite number, or a target whose distance is not finite.
    // Such a move would never arrive, or arrive at a NaN position.
    std::optional<float> TravelTime(const Vector3& target, float speed) const;
    float DistanceTo(const Vector3& point) const;

    // vehicle -1 detaches from the vehicle (offset and rotation zeroed); the object side stays.
    void AttachToVehicle(int16_t vehicle, const Vector3& offset, const Vector3& rotation);
    // object -1 detaches from the object (offset and rotation zeroed, sync rotation 1); the vehicle
    // side stays.
    void AttachToObject(int16_t object, const Vector3& offset, const Vector3& rotation, uint8_t syncRotation);
    const ObjectAttachment& GetAttachment() const { return attachment_; }

    // Each call takes the next slot, also for an index that has one already: the client applies
    // the entries in slot order. False, and nothing changes, once all 16 slots are taken. Names
    // are cut to 64 characters; the text is kept whole.
    bool SetMaterial(uint8_t index, int16_t model, const std::string& libraryName,
                     const std::string& textureName, uint32_t colour);
    bool SetMaterialText(uint8_t index, const std::string& text, uint8_t materialSize,
                         const std::string& fontFace, uint8_t fontSize, uint8_t bold, uint32_t fontColour,
                         uint32_t backgroundColour, uint8_t alignment);
    const std::vector<ObjectMaterial>& GetMaterials() const { return materials_; }

    // The create message (without its RPC id): the whole description, materials included.
    void WriteCreate(BitStream& bs) const;

private:
    friend class ObjectPool;

    // Starts a move; nothing (and nothing changes) when TravelTime refuses it. The rotation is
    // taken at once when all three components are above -999.
    std::optional<float> Move(const Vector3& target, float speed, const Vector3& rotation);
    void Stop() { moving_ = false; }
    // One pass of a move: true when the object arrived (exactly at its target) in it.
    bool Step(float elapsedSeconds);

    uint16_t id_;
    uint16_t owner_;
    int32_t model_;
    Vector3 position_;
    Vector3 rotation_;
    Vector3 target_;
    bool moving_ = false;
    bool noCameraCollision_;
    float speed_ = 0.0f;
    float drawDistance_;
    ObjectAttachment attachment_;
    std::vector<ObjectMaterial> materials_;
};

}  // namespace velt
