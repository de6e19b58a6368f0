#include "server/world/WorldObject.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "net/BitStream.h"
#include "net/StringCompressor.h"

namespace velt {

namespace {

void WriteShortText(BitStream& bs, const std::string& text) {
    const size_t length = std::min(text.size(), kMaxMaterialName);
    bs.Write(uint8_t(length));
    bs.WriteBytes(text.data(), int32_t(length));
}

void WriteVector(BitStream& bs, const Vector3& v) {
    bs.Write(v.x);
    bs.Write(v.y);
    bs.Write(v.z);
}

}  // namespace

void WriteObjectMaterial(BitStream& bs, const ObjectMaterial& material) {
    bs.Write(uint8_t(material.kind));
    bs.Write(material.index);
    if (material.kind == MaterialKind::Texture) {
        bs.Write(uint16_t(material.model));
        WriteShortText(bs, material.libraryName);
        WriteShortText(bs, material.textureName);
        bs.Write(material.colour);
        return;
    }
    bs.Write(material.materialSize);
    WriteShortText(bs, material.fontFace);
    bs.Write(material.fontSize);
    bs.Write(material.bold);
    bs.Write(material.fontColour);
    bs.Write(material.backgroundColour);
    bs.Write(material.alignment);
    // The whole text: the limit counts its terminator.
    const int32_t limit = int32_t(std::min<size_t>(material.text.size(), INT32_MAX - 1) + 1);
    StringCompressor::Instance()->EncodeString(material.text.c_str(), limit, bs);
}

WorldObject::WorldObject(uint16_t id, uint16_t owner, int32_t model, const Vector3& position,
                         const Vector3& rotation, float drawDistance, bool noCameraCollision)
    : id_(id),
      owner_(owner),
      model_(model),
      position_(position),
      rotation_(rotation),
      noCameraCollision_(noCameraCollision),
      drawDistance_(drawDistance) {}

float WorldObject::DistanceTo(const Vector3& point) const {
    return VectorLength({point.x - position_.x, point.y - position_.y, point.z - position_.z});
}

std::optional<float> WorldObject::TravelTime(const Vector3& target, float speed) const {
    if (!(speed > 0.0f) || !std::isfinite(speed)) return std::nullopt;
    const float seconds = DistanceTo(target) / speed;
    if (!std::isfinite(seconds)) return std::nullopt;
    return seconds;
}

std::optional<float> WorldObject::Move(const Vector3& target, float speed, const Vector3& rotation) {
    const std::optional<float> seconds = TravelTime(target, speed);
    if (!seconds) return std::nullopt;
    speed_ = speed;
    target_ = target;
    // The server does not turn the object gradually; the clients do, from the move message.
    if (rotation.x > kKeepRotation && rotation.y > kKeepRotation && rotation.z > kKeepRotation)
        rotation_ = rotation;
    moving_ = true;
    return seconds;
}

bool WorldObject::Step(float elapsedSeconds) {
    const float remaining = DistanceTo(target_);
    // A pass of no time (or of a broken clock) moves nothing.
    const float step = elapsedSeconds > 0.0f ? elapsedSeconds * speed_ : 0.0f;
    // Written so that a NaN distance (a script set a NaN position mid-move) ends the move at the
    // target instead of moving the object on in NaNs for ever.
    if (!(remaining > step)) {
        position_ = target_;
        moving_ = false;
        return true;
    }
    const float parts = remaining / step;
    position_.x += (target_.x - position_.x) / parts;
    position_.y += (target_.y - position_.y) / parts;
    position_.z += (target_.z - position_.z) / parts;
    return false;
}

void WorldObject::AttachToVehicle(int16_t vehicle, const Vector3& offset, const Vector3& rotation) {
    attachment_.vehicle = vehicle;
    attachment_.offset = vehicle == kNotAttached ? Vector3{} : offset;
    attachment_.rotation = vehicle == kNotAttached ? Vector3{} : rotation;
}

void WorldObject::AttachToObject(int16_t object, const Vector3& offset, const Vector3& rotation,
                                 uint8_t syncRotation) {
    attachment_.object = object;
    const bool detach = object == kNotAttached;
    attachment_.offset = detach ? Vector3{} : offset;
    attachment_.rotation = detach ? Vector3{} : rotation;
    attachment_.syncRotation = detach ? 1 : syncRotation;
}

bool WorldObject::SetMaterial(uint8_t index, int16_t model, const std::string& libraryName,
                              const std::string& textureName, uint32_t colour) {
    if (materials_.size() >= kMaxObjectMaterials) return false;
    ObjectMaterial& slot = materials_.emplace_back();
    slot.kind = MaterialKind::Texture;
    slot.index = index;
    slot.model = model;
    slot.colour = colour;
    slot.libraryName = libraryName.substr(0, kMaxMaterialName);
    slot.textureName = textureName.substr(0, kMaxMaterialName);
    return true;
}

bool WorldObject::SetMaterialText(uint8_t index, const std::string& text, uint8_t materialSize,
                                  const std::string& fontFace, uint8_t fontSize, uint8_t bold,
                                  uint32_t fontColour, uint32_t backgroundColour, uint8_t alignment) {
    if (materials_.size() >= kMaxObjectMaterials) return false;
    ObjectMaterial& slot = materials_.emplace_back();
    slot.kind = MaterialKind::Text;
    slot.index = index;
    slot.materialSize = materialSize;
    slot.fontFace = fontFace.substr(0, kMaxMaterialName);
    slot.fontSize = fontSize;
    slot.bold = bold;
    slot.fontColour = fontColour;
    slot.backgroundColour = backgroundColour;
    slot.alignment = alignment;
    slot.text = text;
    return true;
}

void WorldObject::WriteCreate(BitStream& bs) const {
    bs.Write(id_);
    bs.Write(model_);
    WriteVector(bs, position_);
    WriteVector(bs, rotation_);
    bs.Write(drawDistance_);
    bs.Write(uint8_t(noCameraCollision_ ? 1 : 0));
    const uint16_t vehicle = uint16_t(attachment_.vehicle);
    const uint16_t object = uint16_t(attachment_.object);
    bs.Write(vehicle);
    bs.Write(object);
    if (vehicle != 0xFFFF || object != 0xFFFF) {
        WriteVector(bs, attachment_.offset);
        WriteVector(bs, attachment_.rotation);
        bs.Write(attachment_.syncRotation);
    }
    bs.Write(uint8_t(materials_.size()));
    for (const ObjectMaterial& material : materials_) WriteObjectMaterial(bs, material);
}

}  // namespace velt
