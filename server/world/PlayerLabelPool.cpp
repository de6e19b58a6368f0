#include "server/world/PlayerLabelPool.h"

#include <new>

#include "net/BitStream.h"
#include "net/StringCompressor.h"
#include "server/shared/GameRpc.h"

namespace velt {

uint16_t PlayerLabelPool::Create(std::string_view text, uint32_t colour, float x, float y, float z,
                                 float drawDistance, uint16_t attachedPlayer, uint16_t attachedVehicle,
                                 uint8_t testLineOfSight) {
    for (uint16_t row = 0; row < kMaxPlayerLabels; ++row) {
        if (rows_[row] != nullptr) continue;
        std::unique_ptr<PlayerLabel> label(new (std::nothrow) PlayerLabel);
        if (label == nullptr) return 0xFFFF;
        label->text.assign(text);
        label->colour = colour;
        label->x = x;
        label->y = y;
        label->z = z;
        label->drawDistance = drawDistance;
        label->testLineOfSight = testLineOfSight;
        label->attachedPlayer = attachedPlayer;
        label->attachedVehicle = attachedVehicle;
        rows_[row] = std::move(label);
        SendCreate(row);
        return row;
    }
    return 0xFFFF;
}

bool PlayerLabelPool::Delete(uint16_t row) {
    if (!Exists(row)) return false;
    SendDelete(row);
    rows_[row].reset();
    return true;
}

bool PlayerLabelPool::UpdateText(uint16_t row, uint32_t colour, std::string_view text) {
    if (!Exists(row)) return false;
    rows_[row]->text.assign(text);
    rows_[row]->colour = colour;
    SendDelete(row);
    SendCreate(row);
    return true;
}

void PlayerLabelPool::DeleteAll() {
    for (uint16_t row = 0; row < kMaxPlayerLabels; ++row) Delete(row);
}

void PlayerLabelPool::SendCreate(uint16_t row) {
    const PlayerLabel& label = *rows_[row];
    BitStream bs;
    bs.Write(WireId(row));
    bs.Write(label.colour);
    bs.Write(label.x);
    bs.Write(label.y);
    bs.Write(label.z);
    bs.Write(label.drawDistance);
    bs.Write(label.testLineOfSight);
    bs.Write(label.attachedPlayer);
    bs.Write(label.attachedVehicle);
    // The whole text: the limit counts the terminator.
    StringCompressor::Instance()->EncodeString(label.text.c_str(), int32_t(label.text.size() + 1), bs);
    send_(RPC_TextLabelCreate, bs);
}

void PlayerLabelPool::SendDelete(uint16_t row) {
    BitStream bs;
    bs.Write(WireId(row));
    send_(RPC_TextLabelDelete, bs);
}

}  // namespace velt
