#include "server/world/PlayerLabelPool.h"

#include <new>

#include "net/BitStream.h"
#include "server/shared/GameRpc.h"

namespace velt {

uint16_t PlayerLabelPool::Create(std::string_view text, uint32_t colour, const Vector3& position,
                                 float drawDistance, uint16_t attachedPlayer, uint16_t attachedVehicle,
                                 uint8_t testLineOfSight) {
    for (uint16_t row = 0; row < kMaxPlayerLabels; ++row) {
        if (rows_[row] != nullptr) continue;
        std::unique_ptr<PlayerLabel> label(new (std::nothrow) PlayerLabel);
        if (label == nullptr) return 0xFFFF;
        label->text.assign(text);
        label->colour = colour;
        label->position = position;
        label->drawDistance = drawDistance;
        label->testLOS = testLineOfSight;
        label->virtualWorld = -1;
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
    BitStream bs;
    WriteTextLabelCreate(bs, WireId(row), *rows_[row]);
    send_(RPC_TextLabelCreate, bs);
}

void PlayerLabelPool::SendDelete(uint16_t row) {
    BitStream bs;
    bs.Write(WireId(row));
    send_(RPC_TextLabelDelete, bs);
}

}  // namespace velt
