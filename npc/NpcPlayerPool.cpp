#include "npc/NpcPlayerPool.h"

#include <cstring>

namespace velt {

namespace {

void CopyName(char (&to)[kNpcNameMax + 1], const char* from) {
    size_t n = 0;
    if (from != nullptr) {
        while (n < kNpcNameMax && from[n] != '\0') {
            to[n] = from[n];
            ++n;
        }
    }
    to[n] = '\0';
}

}  // namespace

NpcPlayerPool::NpcPlayerPool() {
    std::memset(connected_, 0, sizeof connected_);
    std::memset(streamedIn_, 0, sizeof streamedIn_);
    std::memset(names_, 0, sizeof names_);
    ClearSync();
}

void NpcPlayerPool::Add(uint16_t id, const char* name) {
    if (id >= kNpcMaxPlayers) return;
    connected_[id] = 1;
    CopyName(names_[id], name);
    streamedIn_[id] = 0;
}

void NpcPlayerPool::Remove(uint16_t id) {
    if (id >= kNpcMaxPlayers) return;
    connected_[id] = 0;
    streamedIn_[id] = 0;
}

const char* NpcPlayerPool::GetName(uint16_t id) const { return id < kNpcMaxPlayers ? names_[id] : ""; }

void NpcPlayerPool::SetOwnName(const char* name) { CopyName(ownName_, name); }

void NpcPlayerPool::SetOwnId(uint16_t id) {
    if (id < kNpcMaxPlayers) CopyName(names_[id], ownName_);
    ownId_ = id;
}

void NpcPlayerPool::SetStreamedIn(uint16_t id, bool in) {
    if (id < kNpcMaxPlayers) streamedIn_[id] = in ? 1 : 0;
}

void NpcPlayerPool::StoreOnFoot(uint16_t id, const OnFootSyncRecord& record) {
    if (id >= kNpcMaxPlayers) return;
    onFoot_[id] = record;
    kind_[id] = NpcSyncKind::OnFoot;
}

void NpcPlayerPool::StoreDriver(uint16_t id, const InCarSyncRecord& record) {
    if (id >= kNpcMaxPlayers) return;
    inCar_[id] = record;
    kind_[id] = NpcSyncKind::Driver;
}

void NpcPlayerPool::StorePassenger(uint16_t id, const PassengerSyncRecord& record) {
    if (id >= kNpcMaxPlayers) return;
    passenger_[id] = record;
    kind_[id] = NpcSyncKind::Passenger;
}

void NpcPlayerPool::ClearSync() {
    for (uint16_t id = 0; id < kNpcMaxPlayers; ++id) {
        kind_[id] = NpcSyncKind::None;
        onFoot_[id] = OnFootSyncRecord{};
        inCar_[id] = InCarSyncRecord{};
        passenger_[id] = PassengerSyncRecord{};
        streamedIn_[id] = 0;
    }
}

NpcSyncKind NpcPlayerPool::VisibleKind(uint16_t id) const {
    if (id >= kNpcMaxPlayers || streamedIn_[id] == 0) return NpcSyncKind::None;
    return kind_[id];
}

int32_t NpcPlayerPool::GetState(uint16_t id) const { return int32_t(VisibleKind(id)); }

bool NpcPlayerPool::GetPosition(uint16_t id, Vector3& out) const {
    switch (VisibleKind(id)) {
        case NpcSyncKind::OnFoot: out = onFoot_[id].position; return true;
        case NpcSyncKind::Driver: out = inCar_[id].position; return true;
        case NpcSyncKind::Passenger: out = passenger_[id].position; return true;
        case NpcSyncKind::None: break;
    }
    return false;
}

int32_t NpcPlayerPool::GetVehicleId(uint16_t id) const {
    switch (VisibleKind(id)) {
        case NpcSyncKind::Driver: return inCar_[id].vehicleId;
        case NpcSyncKind::Passenger: return passenger_[id].vehicleId;
        case NpcSyncKind::OnFoot:
        case NpcSyncKind::None: break;
    }
    return -1;
}

int32_t NpcPlayerPool::GetArmedWeapon(uint16_t id) const {
    switch (VisibleKind(id)) {
        case NpcSyncKind::OnFoot: return onFoot_[id].weaponId & 0x3F;
        case NpcSyncKind::Driver: return inCar_[id].weaponId & 0x3F;
        case NpcSyncKind::Passenger: return passenger_[id].weaponId & 0x3F;
        case NpcSyncKind::None: break;
    }
    return 0;
}

int32_t NpcPlayerPool::GetHealth(uint16_t id) const {
    switch (VisibleKind(id)) {
        case NpcSyncKind::OnFoot: return onFoot_[id].health;
        case NpcSyncKind::Driver: return inCar_[id].playerHealth;
        case NpcSyncKind::Passenger: return passenger_[id].health;
        case NpcSyncKind::None: break;
    }
    return 0;
}

int32_t NpcPlayerPool::GetArmour(uint16_t id) const {
    switch (VisibleKind(id)) {
        case NpcSyncKind::OnFoot: return onFoot_[id].armour;
        case NpcSyncKind::Driver: return inCar_[id].armour;
        case NpcSyncKind::Passenger: return passenger_[id].armour;
        case NpcSyncKind::None: break;
    }
    return 0;
}

bool NpcPlayerPool::GetKeys(uint16_t id, NpcPlayerKeys& out) const {
    switch (VisibleKind(id)) {
        case NpcSyncKind::OnFoot:
            out = {onFoot_[id].keys, int16_t(onFoot_[id].udKeys), int16_t(onFoot_[id].lrKeys)};
            return true;
        case NpcSyncKind::Driver:
            out = {inCar_[id].keys, int16_t(inCar_[id].udKeys), int16_t(inCar_[id].lrKeys)};
            return true;
        case NpcSyncKind::Passenger:
            out = {passenger_[id].keys, int16_t(passenger_[id].udKeys), int16_t(passenger_[id].lrKeys)};
            return true;
        case NpcSyncKind::None: break;
    }
    return false;
}

int32_t NpcPlayerPool::GetSpecialAction(uint16_t id) const {
    return VisibleKind(id) == NpcSyncKind::OnFoot ? onFoot_[id].specialAction : 0;
}

}  // namespace velt
