// Turns field values into record bytes and relayed forms, so an independent decoder can check
// our writers.
//
// Each input line: <kind> <player id> <value>...   -- the record's fields in declaration order,
// as unsigned decimal integers; a float is given as its 32-bit pattern, a byte array as one
// value per byte.
// Each output line: <record hex> <relayed form bit count> <relayed form hex>, or "- -" for the
// kinds that are never relayed; "ERR" for a line it cannot parse.
// Kinds: onfoot incar passenger aim trailer unoccupied spectator bullet stats.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "server/shared/SyncRecords.h"
#include "server/shared/SyncRecordsRelay.h"

using namespace velt;

namespace {

class Values {
public:
    explicit Values(std::vector<uint64_t> v) : v_(std::move(v)) {}
    uint64_t Next() { return i_ < v_.size() ? v_[i_++] : (bad_ = true, 0); }
    uint8_t U8() { return uint8_t(Next()); }
    uint16_t U16() { return uint16_t(Next()); }
    uint32_t U32() { return uint32_t(Next()); }
    float F32() { return std::bit_cast<float>(U32()); }
    Vector3 Vec() {
        Vector3 v;
        v.x = F32();
        v.y = F32();
        v.z = F32();
        return v;
    }
    Quaternion Quat() {
        Quaternion q;
        q.w = F32();
        q.x = F32();
        q.y = F32();
        q.z = F32();
        return q;
    }
    template <size_t N>
    void Bytes(std::array<uint8_t, N>& a) {
        for (auto& b : a) b = U8();
    }
    bool Ok() const { return !bad_ && i_ == v_.size(); }

private:
    std::vector<uint64_t> v_;
    size_t i_ = 0;
    bool bad_ = false;
};

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof(two), "%02x", p[i]);
        s += two;
    }
    return s;
}

template <class T>
std::string RecordHex(const T& r) {
    uint8_t b[T::kSize];
    Encode(r, b);
    return Hex(b, T::kSize);
}

std::string FormText(const BitStream& bs) {
    return std::to_string(bs.GetNumberOfBitsUsed()) + " " +
           Hex(bs.GetData(), size_t(bs.GetNumberOfBytesUsed()));
}

bool Handle(const std::string& kind, uint16_t pid, Values& v, std::string& out) {
    BitStream bs;
    if (kind == "onfoot") {
        OnFootSyncRecord r;
        r.lrKeys = v.U16();
        r.udKeys = v.U16();
        r.keys = v.U16();
        r.position = v.Vec();
        r.rotation = v.Quat();
        r.health = v.U8();
        r.armour = v.U8();
        r.weaponId = v.U8();
        r.additionalKeys = v.U8();
        r.specialAction = v.U8();
        r.velocity = v.Vec();
        r.surfingOffset = v.Vec();
        r.surfingId = v.U16();
        r.animation = int32_t(v.U32());
        WriteOnFootRelay(bs, pid, r);
        out = RecordHex(r) + " " + FormText(bs);
    } else if (kind == "incar") {
        InCarSyncRecord r;
        r.vehicleId = v.U16();
        r.lrKeys = v.U16();
        r.udKeys = v.U16();
        r.keys = v.U16();
        r.rotation = v.Quat();
        r.position = v.Vec();
        r.velocity = v.Vec();
        r.vehicleHealth = v.F32();
        r.playerHealth = v.U8();
        r.armour = v.U8();
        r.weaponId = v.U8();
        r.additionalKeys = v.U8();
        r.sirenState = v.U8();
        r.landingGearState = v.U8();
        r.trailerId = v.U16();
        r.trainSpeed = v.U32();
        WriteDriverRelay(bs, pid, r);
        out = RecordHex(r) + " " + FormText(bs);
    } else if (kind == "passenger") {
        PassengerSyncRecord r;
        r.vehicleId = v.U16();
        r.seat = v.U8();
        r.seatFlags = v.U8();
        r.weaponId = v.U8();
        r.additionalKeys = v.U8();
        r.health = v.U8();
        r.armour = v.U8();
        r.lrKeys = v.U16();
        r.udKeys = v.U16();
        r.keys = v.U16();
        r.position = v.Vec();
        WritePassengerRelay(bs, pid, r);
        out = RecordHex(r) + " " + FormText(bs);
    } else if (kind == "aim") {
        AimSyncRecord r;
        r.cameraMode = v.U8();
        r.cameraFront = v.Vec();
        r.cameraPosition = v.Vec();
        r.aimZ = v.F32();
        r.cameraZoom = v.U8();
        r.weaponState = v.U8();
        r.aspectRatio = v.U8();
        WriteAimRelay(bs, pid, r);
        out = RecordHex(r) + " " + FormText(bs);
    } else if (kind == "trailer") {
        TrailerSyncRecord r;
        r.trailerId = v.U16();
        r.position = v.Vec();
        v.Bytes(r.opaque14);
        r.velocity = v.Vec();
        v.Bytes(r.opaque42);
        WriteTrailerRelay(bs, pid, r);
        out = RecordHex(r) + " " + FormText(bs);
    } else if (kind == "unoccupied") {
        UnoccupiedSyncRecord r;
        r.vehicleId = v.U16();
        r.seat = v.U8();
        r.right = v.Vec();
        r.up = v.Vec();
        r.position = v.Vec();
        r.velocity = v.Vec();
        v.Bytes(r.opaque51);
        r.vehicleHealth = v.F32();
        WriteUnoccupiedRelay(bs, pid, r);
        out = RecordHex(r) + " " + FormText(bs);
    } else if (kind == "spectator") {
        SpectatorSyncRecord r;
        r.lrKeys = v.U16();
        r.udKeys = v.U16();
        r.keys = v.U16();
        r.position = v.Vec();
        out = RecordHex(r) + " - -";
    } else if (kind == "bullet") {
        BulletSyncRecord r;
        r.hitType = v.U8();
        r.hitId = v.U16();
        r.origin = v.Vec();
        r.hitPosition = v.Vec();
        r.offset = v.Vec();
        r.weaponId = v.U8();
        WriteBulletRelay(bs, pid, r);
        out = RecordHex(r) + " " + FormText(bs);
    } else if (kind == "stats") {
        StatsUpdateRecord r;
        r.money = int32_t(v.U32());
        r.drunkLevel = int32_t(v.U32());
        out = RecordHex(r) + " - -";
    } else {
        return false;
    }
    return v.Ok();
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string kind;
        unsigned long pid = 0;
        in >> kind >> pid;
        std::vector<uint64_t> values;
        unsigned long long x;
        while (in >> x) values.push_back(x);
        Values v(std::move(values));
        std::string out;
        if (!Handle(kind, uint16_t(pid), v, out)) out = "ERR";
        std::cout << out << '\n';
    }
    return 0;
}
