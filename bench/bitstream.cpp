// BitStream throughput on the shapes the server moves most: a 68-byte on-foot record written
// field by field and read back, its bit-packed relay form, and compressed integers.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "net/BitStream.h"

using velt::BitStream;

namespace {

struct Record {  // 68 bytes on the wire
    int16_t lrKeys, udKeys;
    uint16_t keys;
    float position[3];
    float quaternion[4];
    uint8_t health, armour, weapon, specialAction;
    float moveSpeed[3];
    float surfOffset[3];
    uint16_t surfingId;
    uint32_t animation;
};

Record Sample() {
    return Record{-128,
                  128,
                  0x0408,
                  {1024.5f, -2048.25f, 13.75f},
                  {0.7071f, 0.0f, 0.0f, 0.7071f},
                  100,
                  50,
                  31,
                  0,
                  {0.1f, -0.2f, 0.0f},
                  {0.0f, 0.0f, 0.0f},
                  0xFFFF,
                  0x12345678};
}

void WriteRecord(BitStream& bs, const Record& r) {
    bs.Write(r.lrKeys);
    bs.Write(r.udKeys);
    bs.Write(r.keys);
    for (float f : r.position) bs.Write(f);
    for (float f : r.quaternion) bs.Write(f);
    bs.Write(r.health);
    bs.Write(r.armour);
    bs.Write(r.weapon);
    bs.Write(r.specialAction);
    for (float f : r.moveSpeed) bs.Write(f);
    for (float f : r.surfOffset) bs.Write(f);
    bs.Write(r.surfingId);
    bs.Write(r.animation);
}

bool ReadRecord(BitStream& bs, Record& r) {
    bool ok = bs.Read(r.lrKeys) && bs.Read(r.udKeys) && bs.Read(r.keys);
    for (float& f : r.position) ok = ok && bs.Read(f);
    for (float& f : r.quaternion) ok = ok && bs.Read(f);
    ok = ok && bs.Read(r.health) && bs.Read(r.armour) && bs.Read(r.weapon) && bs.Read(r.specialAction);
    for (float& f : r.moveSpeed) ok = ok && bs.Read(f);
    for (float& f : r.surfOffset) ok = ok && bs.Read(f);
    return ok && bs.Read(r.surfingId) && bs.Read(r.animation);
}

// The 68-byte record behind an id byte and a player id: every field starts on a byte boundary.
void BM_Record68WriteRead(benchmark::State& state) {
    const Record in = Sample();
    for (auto _ : state) {
        BitStream bs;
        bs.Write(uint8_t(207));
        bs.Write(uint16_t(42));
        WriteRecord(bs, in);
        BitStream reader(bs.GetData(), uint32_t(bs.GetNumberOfBytesUsed()), false);
        uint8_t id;
        uint16_t player;
        Record out;
        bool ok = reader.Read(id) && reader.Read(player) && ReadRecord(reader, out);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 71);
}
BENCHMARK(BM_Record68WriteRead);

// The same record one bit off the byte grid: every multi-byte field takes the shifting path.
void BM_Record68WriteReadUnaligned(benchmark::State& state) {
    const Record in = Sample();
    for (auto _ : state) {
        BitStream bs;
        bs.WriteOne();
        WriteRecord(bs, in);
        BitStream reader(bs.GetData(), uint32_t(bs.GetNumberOfBytesUsed()), false);
        bool flag;
        Record out;
        bool ok = reader.ReadOneBit(flag) && ReadRecord(reader, out);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 68);
}
BENCHMARK(BM_Record68WriteReadUnaligned);

// The record in its bit-packed relay form: flag bits, compressed quaternion and vector.
void BM_Record68PackedWriteRead(benchmark::State& state) {
    const Record r = Sample();
    for (auto _ : state) {
        BitStream bs;
        bs.Write(uint8_t(207));
        bs.Write(uint16_t(42));
        bs.Write(r.lrKeys != 0);
        if (r.lrKeys != 0) bs.Write(uint16_t(r.lrKeys));
        bs.Write(r.udKeys != 0);
        if (r.udKeys != 0) bs.Write(uint16_t(r.udKeys));
        bs.Write(r.keys);
        for (float f : r.position) bs.Write(f);
        bs.WriteCompressedQuaternion(r.quaternion[0], r.quaternion[1], r.quaternion[2], r.quaternion[3]);
        bs.Write(uint8_t(0xF7));
        bs.Write(r.weapon);
        bs.Write(r.specialAction);
        bs.WriteCompressedVector(r.moveSpeed[0], r.moveSpeed[1], r.moveSpeed[2]);
        bs.Write(r.surfingId != 0);
        bs.Write(r.animation != 0);
        bs.Write(r.animation);

        BitStream in(bs.GetData(), uint32_t(bs.GetNumberOfBytesUsed()), false);
        uint8_t id, b1, b2, b3;
        uint16_t player, lr = 0, ud = 0, keys, surf;
        bool has;
        float pos[3], q[4], v[3];
        uint32_t anim = 0;
        bool ok = in.Read(id) && in.Read(player) && in.Read(has) && (!has || in.Read(lr)) && in.Read(has) &&
                  (!has || in.Read(ud)) && in.Read(keys) && in.Read(pos[0]) && in.Read(pos[1]) &&
                  in.Read(pos[2]) && in.ReadCompressedQuaternion(q[0], q[1], q[2], q[3]) && in.Read(b1) &&
                  in.Read(b2) && in.Read(b3) && in.ReadCompressedVector(v[0], v[1], v[2]) && in.Read(has) &&
                  (!has || in.Read(surf)) && in.Read(has) && (!has || in.Read(anim));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(q);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_Record68PackedWriteRead);

// 64 compressed u32 values of mixed sizes, written and read back.
void BM_CompressedIntegersWriteRead(benchmark::State& state) {
    std::mt19937 rng(7);
    std::vector<uint32_t> values(64);
    for (uint32_t& v : values) v = uint32_t(rng()) >> (rng() % 32);
    for (auto _ : state) {
        BitStream bs;
        for (uint32_t v : values) bs.WriteCompressed(v);
        uint32_t sum = 0;
        for (size_t i = 0; i < values.size(); ++i) {
            uint32_t v;
            if (bs.ReadCompressed(v)) sum += v;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_CompressedIntegersWriteRead);

}  // namespace
