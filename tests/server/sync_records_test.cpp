#include "server/shared/SyncRecords.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "server/shared/SyncRecordsRelay.h"

namespace velt {
namespace {

// ---- helpers --------------------------------------------------------------------------------

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t* bytes, size_t count) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

template <class T>
std::string EncodedHex(const T& record) {
    uint8_t bytes[T::kSize];
    Encode(record, bytes);
    return ToHex(bytes, T::kSize);
}

std::string StreamHex(const BitStream& bs) { return ToHex(bs.GetData(), size_t(bs.GetNumberOfBytesUsed())); }

void ExpectVec(const Vector3& v, float x, float y, float z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

// ---- fixtures: every field a distinct, exactly representable value --------------------------

OnFootSyncRecord OnFootFixture() {
    OnFootSyncRecord r;
    r.lrKeys = 0xFF80;
    r.udKeys = 0x0080;
    r.keys = 0x0204;
    r.position = {1.0f, -2.0f, 3.5f};
    r.rotation = {0.5f, 0.5f, -0.5f, 0.5f};
    r.health = 100;
    r.armour = 50;
    r.weaponId = 5;
    r.additionalKeys = 3;
    r.specialAction = 2;
    r.velocity = {0.0f, 0.0f, 0.5f};
    r.surfingOffset = {0.25f, -1.0f, 2.0f};
    r.surfingId = 2005;
    r.animation = 0x0004FFFE;
    return r;
}

InCarSyncRecord InCarFixture() {
    InCarSyncRecord r;
    r.vehicleId = 1999;
    r.lrKeys = 0xFF80;
    r.udKeys = 0;
    r.keys = 0x0008;
    r.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
    r.position = {100.0f, 200.0f, 10.0f};
    r.velocity = {0.0f, 0.0f, 0.0f};
    r.vehicleHealth = 999.9f;
    r.playerHealth = 50;
    r.armour = 50;
    r.weaponId = 5;
    r.additionalKeys = 2;
    r.sirenState = 1;
    r.landingGearState = 0;
    r.trailerId = 1500;
    r.trainSpeed = 0x12345678;
    return r;
}

PassengerSyncRecord PassengerFixture() {
    PassengerSyncRecord r;
    r.vehicleId = 400;
    r.seat = 2;
    r.seatFlags = 2;
    r.weaponId = 43;
    r.additionalKeys = 1;
    r.health = 75;
    r.armour = 25;
    r.lrKeys = 0;
    r.udKeys = 0xFF80;
    r.keys = 0x0005;
    r.position = {-5.0f, 6.0f, 7.0f};
    return r;
}

AimSyncRecord AimFixture() {
    AimSyncRecord r;
    r.cameraMode = 53;
    r.cameraFront = {0.0f, 1.0f, 0.0f};
    r.cameraPosition = {10.0f, 20.0f, 30.0f};
    r.aimZ = 0.25f;
    r.cameraZoom = 63;
    r.weaponState = 2;
    r.aspectRatio = 255;
    return r;
}

TrailerSyncRecord TrailerFixture() {
    TrailerSyncRecord r;
    r.trailerId = 600;
    r.position = {1.0f, 2.0f, 3.0f};
    for (size_t i = 0; i < r.opaque14.size(); ++i) r.opaque14[i] = uint8_t(0x10 + i);
    r.velocity = {-1.0f, 0.0f, 1.0f};
    for (size_t i = 0; i < r.opaque42.size(); ++i) r.opaque42[i] = uint8_t(0xA0 + i);
    return r;
}

UnoccupiedSyncRecord UnoccupiedFixture() {
    UnoccupiedSyncRecord r;
    r.vehicleId = 77;
    r.seat = 2;
    r.right = {1.0f, 0.0f, 0.0f};
    r.up = {0.0f, 1.0f, 0.0f};
    r.position = {5.0f, 6.0f, 7.0f};
    r.velocity = {0.0f, 0.0f, -0.5f};
    for (size_t i = 0; i < r.opaque51.size(); ++i) r.opaque51[i] = uint8_t(0x30 + i);
    r.vehicleHealth = 1000.0f;
    return r;
}

SpectatorSyncRecord SpectatorFixture() {
    SpectatorSyncRecord r;
    r.lrKeys = 1;
    r.udKeys = 2;
    r.keys = 3;
    r.position = {-100.0f, 100.0f, 50.0f};
    return r;
}

BulletSyncRecord BulletFixture() {
    BulletSyncRecord r;
    r.hitType = BULLET_HIT_PLAYER;
    r.hitId = 7;
    r.origin = {1.0f, 2.0f, 3.0f};
    r.hitPosition = {4.0f, 5.0f, 6.0f};
    r.offset = {-0.5f, 0.25f, 1.0f};
    r.weaponId = 31;
    return r;
}

// Golden bytes of the fixtures, laid out by hand from the record tables.
const char* kOnFootHex =
    "80ff800004020000803f000000c0000060400000003f0000003f000000bf0000003f6432c502000000000000000000"
    "00003f0000803e000080bf00000040d507feff0400";
const char* kInCarHex =
    "cf0780ff000008000000803f0000000000000000000000000000c84200004843000020410000000000000000000000"
    "009af979443232850100dc0578563412";
const char* kPassengerHex = "9001826b4b19000080ff05000000a0c00000c0400000e040";
const char* kAimHex = "35000000000000803f00000000000020410000a0410000f0410000803ebfff";
const char* kTrailerHex =
    "58020000803f0000004000004040101112131415161718191a1b1c1d1e1f000080bf000000000000803fa0a1a2a3a4a5"
    "a6a7a8a9aaab";
const char* kUnoccupiedHex =
    "4d00020000803f0000000000000000000000000000803f000000000000a0400000c0400000e0400000000000000000"
    "000000bf303132333435363738393a3b00007a44";
const char* kSpectatorHex = "0100020003000000c8c20000c84200004842";
const char* kBulletHex = "0107000000803f0000004000004040000080400000a0400000c040000000bf0000803e0000803f1f";

// ---- raw records ----------------------------------------------------------------------------

TEST(SyncRecords, EncodeMatchesGoldenBytes) {
    EXPECT_EQ(EncodedHex(OnFootFixture()), kOnFootHex);
    EXPECT_EQ(EncodedHex(InCarFixture()), kInCarHex);
    EXPECT_EQ(EncodedHex(PassengerFixture()), kPassengerHex);
    EXPECT_EQ(EncodedHex(AimFixture()), kAimHex);
    EXPECT_EQ(EncodedHex(TrailerFixture()), kTrailerHex);
    EXPECT_EQ(EncodedHex(UnoccupiedFixture()), kUnoccupiedHex);
    EXPECT_EQ(EncodedHex(SpectatorFixture()), kSpectatorHex);
    EXPECT_EQ(EncodedHex(BulletFixture()), kBulletHex);
    StatsUpdateRecord stats;
    stats.money = -500;
    stats.drunkLevel = 2000;
    EXPECT_EQ(EncodedHex(stats), "0cfeffffd0070000");
}

TEST(SyncRecords, DecodeGoldenBytesGivesEveryField) {
    OnFootSyncRecord f;
    auto bytes = FromHex(kOnFootHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), f));
    EXPECT_EQ(f.lrKeys, 0xFF80);
    EXPECT_EQ(f.udKeys, 0x0080);
    EXPECT_EQ(f.keys, 0x0204);
    ExpectVec(f.position, 1.0f, -2.0f, 3.5f);
    EXPECT_EQ(f.rotation.w, 0.5f);
    EXPECT_EQ(f.rotation.y, -0.5f);
    EXPECT_EQ(f.health, 100);
    EXPECT_EQ(f.armour, 50);
    EXPECT_EQ(f.weaponId, 5);
    EXPECT_EQ(f.additionalKeys, 3);
    EXPECT_EQ(f.specialAction, 2);
    ExpectVec(f.velocity, 0.0f, 0.0f, 0.5f);
    ExpectVec(f.surfingOffset, 0.25f, -1.0f, 2.0f);
    EXPECT_EQ(f.surfingId, 2005);
    EXPECT_EQ(f.animation, 0x0004FFFE);
    EXPECT_EQ(AnimationIndex(f), -2);

    InCarSyncRecord c;
    bytes = FromHex(kInCarHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), c));
    EXPECT_EQ(c.vehicleId, 1999);
    EXPECT_EQ(c.keys, 8);
    ExpectVec(c.position, 100.0f, 200.0f, 10.0f);
    EXPECT_EQ(c.vehicleHealth, 999.9f);
    EXPECT_EQ(c.playerHealth, 50);
    EXPECT_EQ(c.weaponId, 5);
    EXPECT_EQ(c.additionalKeys, 2);
    EXPECT_EQ(c.sirenState, 1);
    EXPECT_EQ(c.trailerId, 1500);
    EXPECT_EQ(c.trainSpeed, 0x12345678u);

    PassengerSyncRecord p;
    bytes = FromHex(kPassengerHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), p));
    EXPECT_EQ(p.vehicleId, 400);
    EXPECT_EQ(p.seat, 2);
    EXPECT_EQ(p.seatFlags, 2);
    EXPECT_EQ(p.weaponId, 43);
    EXPECT_EQ(p.additionalKeys, 1);
    EXPECT_EQ(p.health, 75);
    EXPECT_EQ(p.armour, 25);
    EXPECT_EQ(p.udKeys, 0xFF80);
    ExpectVec(p.position, -5.0f, 6.0f, 7.0f);

    AimSyncRecord a;
    bytes = FromHex(kAimHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), a));
    EXPECT_EQ(a.cameraMode, 53);
    ExpectVec(a.cameraFront, 0.0f, 1.0f, 0.0f);
    ExpectVec(a.cameraPosition, 10.0f, 20.0f, 30.0f);
    EXPECT_EQ(a.aimZ, 0.25f);
    EXPECT_EQ(a.cameraZoom, 63);
    EXPECT_EQ(a.weaponState, 2);
    EXPECT_FLOAT_EQ(AimCameraZoom(a), 70.0f);
    EXPECT_FLOAT_EQ(AimAspectRatio(a), 2.0f);

    TrailerSyncRecord t;
    bytes = FromHex(kTrailerHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), t));
    EXPECT_EQ(t.trailerId, 600);
    ExpectVec(t.velocity, -1.0f, 0.0f, 1.0f);
    EXPECT_EQ(t.opaque14, TrailerFixture().opaque14);
    EXPECT_EQ(t.opaque42, TrailerFixture().opaque42);

    UnoccupiedSyncRecord u;
    bytes = FromHex(kUnoccupiedHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), u));
    EXPECT_EQ(u.vehicleId, 77);
    EXPECT_EQ(u.seat, 2);
    ExpectVec(u.up, 0.0f, 1.0f, 0.0f);
    ExpectVec(u.position, 5.0f, 6.0f, 7.0f);
    EXPECT_EQ(u.opaque51, UnoccupiedFixture().opaque51);
    EXPECT_EQ(u.vehicleHealth, 1000.0f);

    SpectatorSyncRecord s;
    bytes = FromHex(kSpectatorHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), s));
    EXPECT_EQ(s.keys, 3);
    ExpectVec(s.position, -100.0f, 100.0f, 50.0f);

    BulletSyncRecord b;
    bytes = FromHex(kBulletHex);
    ASSERT_TRUE(DecodeChecked(bytes.data(), bytes.size(), b));
    EXPECT_EQ(b.hitType, BULLET_HIT_PLAYER);
    EXPECT_EQ(b.hitId, 7);
    ExpectVec(b.hitPosition, 4.0f, 5.0f, 6.0f);
    ExpectVec(b.offset, -0.5f, 0.25f, 1.0f);
    EXPECT_EQ(b.weaponId, 31);
}

// Bytes in, record out, same bytes back: whatever the bytes, including NaN patterns and the
// bits that share a byte with another field.
template <class T>
void ExpectBytesRoundTrip(uint32_t seed) {
    uint8_t in[T::kSize], out[T::kSize];
    for (size_t i = 0; i < T::kSize; ++i) {
        seed = seed * 1103515245u + 12345u;
        in[i] = uint8_t(seed >> 16);
    }
    in[0] = 0xFF;  // a NaN-ish first float where there is one; any byte elsewhere
    T r;
    Decode(in, r);
    Encode(r, out);
    EXPECT_EQ(ToHex(out, T::kSize), ToHex(in, T::kSize));
}

TEST(SyncRecords, AnyBytesRoundTrip) {
    for (uint32_t seed = 1; seed < 40; ++seed) {
        ExpectBytesRoundTrip<OnFootSyncRecord>(seed);
        ExpectBytesRoundTrip<InCarSyncRecord>(seed);
        ExpectBytesRoundTrip<PassengerSyncRecord>(seed);
        ExpectBytesRoundTrip<AimSyncRecord>(seed);
        ExpectBytesRoundTrip<TrailerSyncRecord>(seed);
        ExpectBytesRoundTrip<UnoccupiedSyncRecord>(seed);
        ExpectBytesRoundTrip<SpectatorSyncRecord>(seed);
        ExpectBytesRoundTrip<BulletSyncRecord>(seed);
        ExpectBytesRoundTrip<StatsUpdateRecord>(seed);
    }
}

// One byte short must fail without touching the record, from a buffer and from a packet whose
// id byte was read first (also at an odd bit offset, as after a timestamp read bit by bit).
template <class T>
void ExpectShortInputRefused() {
    SCOPED_TRACE(T::kSize);
    std::vector<uint8_t> bytes(T::kSize + 1, 0xAB);
    T r;
    r = T{};
    EXPECT_FALSE(DecodeChecked(bytes.data(), T::kSize - 1, r));
    EXPECT_FALSE(DecodeChecked<T>(nullptr, T::kSize, r));
    EXPECT_EQ(EncodedHex(r), EncodedHex(T{}));
    EXPECT_TRUE(DecodeChecked(bytes.data(), T::kSize, r));

    BitStream whole(bytes.data(), uint32_t(T::kSize + 1), false);
    uint8_t id = 0;
    ASSERT_TRUE(whole.Read(id));
    EXPECT_TRUE(ReadSyncRecord(whole, r));

    BitStream shortBs(bytes.data(), uint32_t(T::kSize), false);
    ASSERT_TRUE(shortBs.Read(id));
    T untouched;
    EXPECT_FALSE(ReadSyncRecord(shortBs, untouched));
    EXPECT_EQ(shortBs.GetReadOffset(), 8);
    EXPECT_EQ(EncodedHex(untouched), EncodedHex(T{}));

    BitStream odd(bytes.data(), uint32_t(T::kSize + 1), false);
    bool bit = false;
    ASSERT_TRUE(odd.ReadOneBit(bit));
    EXPECT_TRUE(ReadSyncRecord(odd, r));
    EXPECT_FALSE(ReadSyncRecord(odd, r));
}

TEST(SyncRecords, ShortInputIsRefused) {
    ExpectShortInputRefused<OnFootSyncRecord>();
    ExpectShortInputRefused<InCarSyncRecord>();
    ExpectShortInputRefused<PassengerSyncRecord>();
    ExpectShortInputRefused<AimSyncRecord>();
    ExpectShortInputRefused<TrailerSyncRecord>();
    ExpectShortInputRefused<UnoccupiedSyncRecord>();
    ExpectShortInputRefused<SpectatorSyncRecord>();
    ExpectShortInputRefused<BulletSyncRecord>();
    ExpectShortInputRefused<StatsUpdateRecord>();
}

// ---- weapons update -------------------------------------------------------------------------

TEST(SyncRecords, WeaponsUpdateEntries) {
    struct Case {
        const char* name;
        std::string hex;  // after the id byte
        bool ok;
        std::vector<int> slots;  // slots the update names
    };
    const Case cases[] = {
        {"targets only", "07000900", true, {}},
        {"two entries",
         "07000900"
         "00160000"
         "01171900",
         true,
         {0, 1}},
        {"slot 13 skipped, 12 kept",
         "07000900"
         "0d1e6400"
         "0c204006",
         true,
         {12}},
        {"later entry for a slot wins",
         "07000900"
         "02160100"
         "0216c800",
         true,
         {2}},
        // A fragment of 1 to 3 bytes after the last whole entry is not an entry (counting from
        // the packet length would read 2- and 3-byte fragments as entries past the end).
        {"one-byte fragment ignored",
         "07000900"
         "00160000"
         "01",
         true,
         {0}},
        {"two-byte fragment ignored",
         "07000900"
         "00160000"
         "0117",
         true,
         {0}},
        {"three-byte fragment ignored",
         "07000900"
         "00160000"
         "011764",
         true,
         {0}},
        {"no target ids", "070009", false, {}},
        {"empty", "", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = FromHex("cc" + c.hex);
        BitStream bs(bytes.data(), uint32_t(bytes.size()), false);
        uint8_t id = 0;
        ASSERT_TRUE(bs.Read(id));
        WeaponsUpdateRecord r;
        r.targetPlayerId = 0xBEEF;
        ASSERT_EQ(ReadWeaponsUpdate(bs, r), c.ok);
        if (!c.ok) {
            EXPECT_EQ(r.targetPlayerId, 0xBEEF);
            continue;
        }
        EXPECT_EQ(r.targetPlayerId, 7);
        EXPECT_EQ(r.targetActorId, 9);
        int named = 0;
        for (int s = 0; s < kWeaponSlots; ++s) named += r.present[size_t(s)];
        EXPECT_EQ(named, int(c.slots.size()));
        for (int s : c.slots) EXPECT_TRUE(r.present[size_t(s)]) << s;
    }
    // Values of the last two interesting cases.
    auto bytes = FromHex(
        "cc07000900"
        "0c204006"
        "02160100"
        "0216c800");
    BitStream bs(bytes.data(), uint32_t(bytes.size()), false);
    uint8_t id = 0;
    ASSERT_TRUE(bs.Read(id));
    WeaponsUpdateRecord r;
    ASSERT_TRUE(ReadWeaponsUpdate(bs, r));
    EXPECT_EQ(r.weaponId[12], 0x20);
    EXPECT_EQ(r.ammo[12], 0x0640);
    EXPECT_EQ(r.weaponId[2], 0x16);
    EXPECT_EQ(r.ammo[2], 200);
}

// ---- derived values -------------------------------------------------------------------------

TEST(SyncRecords, KeyStateAndHealthArmourByte) {
    // Weapon byte 0xC5 is weapon 5 with key bits 11, 0x85 with 10.
    const struct {
        uint8_t weaponByte;
        uint32_t keyState;
    } keys[] = {{0x05, 0x0204}, {0x45, 0x10204}, {0x85, 0x20204}, {0xC5, 0x40204}};
    for (const auto& k : keys) {
        OnFootSyncRecord r = OnFootFixture();
        uint8_t bytes[OnFootSyncRecord::kSize];
        Encode(r, bytes);
        bytes[36] = k.weaponByte;
        Decode(bytes, r);
        EXPECT_EQ(r.weaponId, 5);
        EXPECT_EQ(KeyStateOf(r.keys, r.additionalKeys), k.keyState) << int(k.weaponByte);
    }

    const struct {
        uint8_t health, armour, packed, healthBack, armourBack;
    } bytes[] = {
        {100, 0, 0xF0, 100, 0}, {50, 50, 0x77, 49, 49}, {255, 1, 0xF0, 100, 0}, {99, 100, 0xEF, 98, 100},
        {7, 13, 0x11, 7, 7},    {6, 0, 0x00, 0, 0},     {0, 200, 0x0F, 0, 100},
    };
    for (const auto& b : bytes) {
        SCOPED_TRACE(int(b.health) * 1000 + b.armour);
        EXPECT_EQ(PackHealthArmour(b.health, b.armour), b.packed);
        uint8_t h = 1, a = 1;
        UnpackHealthArmour(b.packed, h, a);
        EXPECT_EQ(h, b.healthBack);
        EXPECT_EQ(a, b.armourBack);
    }
    uint8_t h = 0, a = 0;
    UnpackHealthArmour(0xF3, h, a);
    EXPECT_EQ(h, 100);
    EXPECT_EQ(a, 21);
}

TEST(SyncRecords, RelayedVehicleHealthSaturates) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float in;
        uint16_t out;
    } cases[] = {{999.9f, 999}, {1000.0f, 1000},   {0.99f, 0},        {-5.5f, 0},   {-inf, 0},
                 {nan, 0},      {65535.0f, 65535}, {70000.0f, 65535}, {inf, 65535}, {249.999f, 249}};
    for (const auto& c : cases) EXPECT_EQ(RelayedVehicleHealth(c.in), c.out) << c.in;
}

// ---- relayed forms --------------------------------------------------------------------------

TEST(SyncRelay, OnFootGoldenForms) {
    // Nothing optional: both axis bits, the surfing bit and the animation bit are 0.
    OnFootSyncRecord quiet;
    quiet.position = {1.0f, 2.0f, 3.0f};
    quiet.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
    quiet.health = 100;
    BitStream bs;
    WriteOnFootRelay(bs, 3, quiet);
    EXPECT_EQ(bs.GetNumberOfBitsUsed(), 248);
    EXPECT_EQ(StreamHex(bs), "cf030000000000200fc00000100000101000000000000003c0000000000000");

    BitStream full;
    WriteOnFootRelay(full, 42, OnFootFixture());
    EXPECT_EQ(full.GetNumberOfBitsUsed(), 472);
    EXPECT_EQ(
        StreamHex(full),
        "cf2a00c07fe00001008000200fc0000030000018100bfdfffdfffdffdc1408000000fffdfffdffffffaa0e0001007c0001"
        "017e00000081feff0400");

    uint16_t who = 0;
    OnFootSyncRecord back;
    ASSERT_TRUE(ReadOnFootRelay(full, who, back));
    EXPECT_EQ(full.GetReadOffset(), full.GetNumberOfBitsUsed());
    EXPECT_EQ(who, 42);
    EXPECT_EQ(back.lrKeys, 0xFF80);
    EXPECT_EQ(back.udKeys, 0x0080);
    EXPECT_EQ(back.keys, 0x0204);
    ExpectVec(back.position, 1.0f, -2.0f, 3.5f);
    EXPECT_NEAR(back.rotation.w, 0.5f, 1e-4f);
    EXPECT_NEAR(back.rotation.y, -0.5f, 1e-4f);
    EXPECT_EQ(back.health, 100);
    EXPECT_EQ(back.armour, 49);  // nibble 7
    EXPECT_EQ(back.weaponId, 5);
    EXPECT_EQ(back.additionalKeys, 0);
    EXPECT_NEAR(back.velocity.z, 0.5f, 1e-4f);
    EXPECT_EQ(back.surfingId, 2005);
    ExpectVec(back.surfingOffset, 0.25f, -1.0f, 2.0f);
    EXPECT_EQ(back.animation, 0x0004FFFE);

    // Without a surfing part the reader says "none" (0xFFFF) with a zero offset.
    ASSERT_TRUE(ReadOnFootRelay(bs, who, back));
    EXPECT_EQ(who, 3);
    EXPECT_EQ(back.surfingId, kNoSyncId);
    ExpectVec(back.surfingOffset, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(back.lrKeys, 0);
    EXPECT_EQ(back.animation, 0);
}

TEST(SyncRelay, DriverGoldenForms) {
    BitStream full;
    WriteDriverRelay(full, 9, InCarFixture());
    EXPECT_EQ(full.GetNumberOfBitsUsed(), 352);
    EXPECT_EQ(StreamHex(full),
              "c80900cf0780ff0000080000000000000000000c842000048430000204100000000e7037705af0ac6825dc05");

    InCarSyncRecord bare = InCarFixture();
    bare.sirenState = 0;
    bare.landingGearState = 7;  // any non-zero state is "down"
    bare.trainSpeed = 0;
    bare.trailerId = 0;
    bare.vehicleHealth = -5.0f;
    BitStream minimal;
    WriteDriverRelay(minimal, 9, bare);
    EXPECT_EQ(minimal.GetNumberOfBitsUsed(), 304);
    EXPECT_EQ(StreamHex(minimal),
              "c80900cf0780ff0000080000000000000000000c842000048430000204100000000000077054");

    uint16_t who = 0;
    InCarSyncRecord back;
    ASSERT_TRUE(ReadDriverRelay(full, who, back));
    EXPECT_EQ(full.GetReadOffset(), full.GetNumberOfBitsUsed());
    EXPECT_EQ(who, 9);
    EXPECT_EQ(back.vehicleId, 1999);
    EXPECT_EQ(back.vehicleHealth, 999.0f);
    EXPECT_EQ(back.playerHealth, 49);
    EXPECT_EQ(back.sirenState, 1);
    EXPECT_EQ(back.landingGearState, 0);
    EXPECT_EQ(back.trainSpeed, 0x12345678u);
    EXPECT_EQ(back.trailerId, 1500);
    EXPECT_EQ(back.rotation.w, 1.0f);
    ASSERT_TRUE(ReadDriverRelay(minimal, who, back));
    EXPECT_EQ(back.landingGearState, 1);
    EXPECT_EQ(back.trailerId, 0);
    EXPECT_EQ(back.vehicleHealth, 0.0f);
}

TEST(SyncRelay, RawGoldenForms) {
    struct Case {
        const char* name;
        std::string expected;
        void (*write)(BitStream&);
    };
    const Case cases[] = {
        // Weapon 43 clears key bit 0x04 in the relayed copy: keys 0x0005 go out as 0x0001.
        {"passenger", "d30c009001826b4b19000080ff01000000a0c00000c0400000e040",
         [](BitStream& bs) { WritePassengerRelay(bs, 12, PassengerFixture()); }},
        {"aim", std::string("cb0c00") + kAimHex, [](BitStream& bs) { WriteAimRelay(bs, 12, AimFixture()); }},
        {"trailer", std::string("d20c00") + kTrailerHex,
         [](BitStream& bs) { WriteTrailerRelay(bs, 12, TrailerFixture()); }},
        {"unoccupied", std::string("d10c00") + kUnoccupiedHex,
         [](BitStream& bs) { WriteUnoccupiedRelay(bs, 12, UnoccupiedFixture()); }},
        {"bullet", std::string("ce0c00") + kBulletHex,
         [](BitStream& bs) { WriteBulletRelay(bs, 12, BulletFixture()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitStream bs;
        c.write(bs);
        EXPECT_EQ(StreamHex(bs), c.expected);
    }

    // Another weapon keeps the shutter bit; the caller's record is never changed.
    PassengerSyncRecord p = PassengerFixture();
    BitStream kept;
    p.weaponId = 42;
    WritePassengerRelay(kept, 12, p);
    uint16_t who = 0;
    PassengerSyncRecord back;
    ASSERT_TRUE(ReadPassengerRelay(kept, who, back));
    EXPECT_EQ(back.keys, 0x0005);
    p.weaponId = 43;
    BitStream cleared;
    WritePassengerRelay(cleared, 12, p);
    EXPECT_EQ(p.keys, 0x0005);
    ASSERT_TRUE(ReadPassengerRelay(cleared, who, back));
    EXPECT_EQ(back.keys, 0x0001);
    EXPECT_EQ(back.seatFlags, 2);
}

// Every reader refuses a form of another id and every truncation of its own form.
TEST(SyncRelay, ReadersRefuseWrongIdAndTruncation) {
    using Reader = bool (*)(BitStream&);
    struct Form {
        const char* name;
        void (*write)(BitStream&);
        Reader read;
    };
    const Form forms[] = {
        {"on foot", [](BitStream& bs) { WriteOnFootRelay(bs, 1, OnFootFixture()); },
         [](BitStream& bs) {
             uint16_t id;
             OnFootSyncRecord r;
             return ReadOnFootRelay(bs, id, r);
         }},
        {"driver", [](BitStream& bs) { WriteDriverRelay(bs, 1, InCarFixture()); },
         [](BitStream& bs) {
             uint16_t id;
             InCarSyncRecord r;
             return ReadDriverRelay(bs, id, r);
         }},
        {"passenger", [](BitStream& bs) { WritePassengerRelay(bs, 1, PassengerFixture()); },
         [](BitStream& bs) {
             uint16_t id;
             PassengerSyncRecord r;
             return ReadPassengerRelay(bs, id, r);
         }},
        {"aim", [](BitStream& bs) { WriteAimRelay(bs, 1, AimFixture()); },
         [](BitStream& bs) {
             uint16_t id;
             AimSyncRecord r;
             return ReadAimRelay(bs, id, r);
         }},
        {"trailer", [](BitStream& bs) { WriteTrailerRelay(bs, 1, TrailerFixture()); },
         [](BitStream& bs) {
             uint16_t id;
             TrailerSyncRecord r;
             return ReadTrailerRelay(bs, id, r);
         }},
        {"unoccupied", [](BitStream& bs) { WriteUnoccupiedRelay(bs, 1, UnoccupiedFixture()); },
         [](BitStream& bs) {
             uint16_t id;
             UnoccupiedSyncRecord r;
             return ReadUnoccupiedRelay(bs, id, r);
         }},
        {"bullet", [](BitStream& bs) { WriteBulletRelay(bs, 1, BulletFixture()); },
         [](BitStream& bs) {
             uint16_t id;
             BulletSyncRecord r;
             return ReadBulletRelay(bs, id, r);
         }},
    };
    for (const Form& own : forms) {
        SCOPED_TRACE(own.name);
        BitStream written;
        own.write(written);
        const int32_t bits = written.GetNumberOfBitsUsed();
        for (int32_t cut = 0; cut < bits; ++cut) {
            BitStream truncated(written.GetData(), uint32_t((cut + 7) / 8), false);
            truncated.SetWriteCursor(cut);
            ASSERT_FALSE(own.read(truncated)) << cut;
        }
        for (const Form& other : forms) {
            if (&other == &own) continue;
            BitStream foreign;
            other.write(foreign);
            EXPECT_FALSE(own.read(foreign)) << other.name;
        }
    }
}

}  // namespace
}  // namespace velt
