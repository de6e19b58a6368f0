#include "server/world/PlayerTextDrawPool.h"

#include <new>

#include "net/BitStream.h"
#include "server/shared/GameRpc.h"

namespace velt {

uint16_t PlayerTextDrawPool::Create(float x, float y, std::string_view text) {
    for (uint16_t index = 0; index < kMaxPlayerTextDraws; ++index) {
        if (entries_[index] != nullptr) continue;
        std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
        if (entry == nullptr) return 0xFFFF;
        entry->draw.attributes.x = x;
        entry->draw.attributes.y = y;
        entry->draw.SetText(text);
        entries_[index] = std::move(entry);
        return index;
    }
    return 0xFFFF;
}

void PlayerTextDrawPool::Destroy(uint16_t index) {
    if (!Exists(index)) return;
    Hide(index);
    entries_[index].reset();
}

void PlayerTextDrawPool::Show(uint16_t index) {
    if (!Exists(index)) return;
    BitStream bs;
    WriteTextDrawShow(bs, WireId(index), entries_[index]->draw);
    send_(RPC_TextDrawShow, bs);
    entries_[index]->shown = true;
}

void PlayerTextDrawPool::Hide(uint16_t index) {
    if (!Exists(index)) return;
    Entry& entry = *entries_[index];
    if (entry.shown) {
        BitStream bs;
        WriteTextDrawHide(bs, WireId(index));
        send_(RPC_TextDrawHide, bs);
    }
    entry.shown = false;
}

void PlayerTextDrawPool::SetString(uint16_t index, std::string_view text) {
    if (!Exists(index)) return;
    Entry& entry = *entries_[index];
    entry.draw.SetText(text);
    if (!entry.shown) return;
    BitStream bs;
    WriteTextDrawString(bs, WireId(index), entry.draw.text);
    send_(RPC_TextDrawStringSet, bs);
}

}  // namespace velt
