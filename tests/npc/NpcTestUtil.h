#pragma once

// Shared pieces of the bot tests:
//   FakeNetClient  (FakeNetClient.h) the transport client the bot is handed;
//   NpcRunDir      a scratch working directory with "npcmodes/" holding the assembled fixtures;
//   ExitCatcher    takes over the process end, so a failure path can be observed;
//   ScriptLog      reads the recorder fixture's public log array;
//   builders for the server's messages, written from the wire layouts.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "FakeNetClient.h"
#include "net/BitStream.h"
#include "net/MessageIdentifiers.h"
#include "net/NetClientInterface.h"
#include "net/Packet.h"
#include "npc/NpcClock.h"
#include "npc/NpcExit.h"
#include "npc/net/netgame/NetGame.h"
#include "server/vm/vm.h"

namespace velt::test {

// The fake the next NetGame of the test gets; NetGame's factory hands it out and leaves it to the test.
inline FakeNetClient*& CurrentFake() {
    static FakeNetClient* fake = nullptr;
    return fake;
}
inline NetGame::ClientFactory FakeFactory() {
    return NetGame::ClientFactory{[]() -> NetClientInterface* { return CurrentFake(); },
                                  [](NetClientInterface*) {}};
}

// A working directory with npcmodes/<fixture>.vmb for every assembled fixture; the previous
// directory comes back at the end.
class NpcRunDir {
public:
    NpcRunDir() {
        namespace fs = std::filesystem;
        old_ = fs::current_path();
        char tmpl[] = "/tmp/velt-npc-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        fs::create_directories(dir_ / "npcmodes");
        for (const auto& entry : fs::directory_iterator(VELT_NPC_FIXTURE_DIR)) {
            if (entry.path().extension() == ".vmb")
                fs::copy_file(entry.path(), dir_ / "npcmodes" / entry.path().filename());
        }
        fs::current_path(dir_);
    }
    ~NpcRunDir() {
        namespace fs = std::filesystem;
        fs::current_path(old_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    const std::filesystem::path& Path() const { return dir_; }

private:
    std::filesystem::path old_;
    std::filesystem::path dir_;
};

// Takes the process end over for the lifetime of the object.
class ExitCatcher {
public:
    ExitCatcher() {
        Statuses().clear();
        SetNpcExitHandler([](int status) { Statuses().push_back(status); });
    }
    ~ExitCatcher() { SetNpcExitHandler(nullptr); }
    const std::vector<int>& Seen() const { return Statuses(); }

private:
    static std::vector<int>& Statuses() {
        static std::vector<int> s;
        return s;
    }
};

// A controllable millisecond clock for idle sync.
inline uint32_t& FakeNow() {
    static uint32_t now = 1000;
    return now;
}
class FakeClock {
public:
    FakeClock() {
        FakeNow() = 100000;
        SetNpcTickSource([] { return FakeNow(); });
    }
    ~FakeClock() { SetNpcTickSource(nullptr); }
    void Advance(uint32_t ms) { FakeNow() += ms; }
};

// The recorder fixture's log: codes and arguments in order.
inline std::vector<cell> ScriptLog(VmInstance* vm) {
    std::vector<cell> out;
    if (vm == nullptr) return out;
    cell logAddr = 0, countAddr = 0;
    if (vm_LookupPubVar(vm, "log", &logAddr) != VM_ERR_NONE ||
        vm_LookupPubVar(vm, "logn", &countAddr) != VM_ERR_NONE)
        return out;
    cell* count = nullptr;
    cell* log = nullptr;
    vm_GetAddr(vm, countAddr, &count);
    vm_GetAddr(vm, logAddr, &log);
    for (cell i = 0; i < *count; ++i) out.push_back(log[i]);
    return out;
}
inline void SetScriptVar(VmInstance* vm, const char* name, cell value) {
    cell addr = 0;
    ASSERT_EQ(vm_LookupPubVar(vm, name, &addr), VM_ERR_NONE);
    cell* p = nullptr;
    ASSERT_EQ(vm_GetAddr(vm, addr, &p), VM_ERR_NONE);
    *p = value;
}
// Entries of the log from the first occurrence of `code` on (empty when it never occurred).
inline std::vector<cell> LogFrom(const std::vector<cell>& log, cell code) {
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i] == code) return std::vector<cell>(log.begin() + long(i), log.end());
    return {};
}
inline int CountCode(const std::vector<cell>& log, cell code) {
    int n = 0;
    for (cell c : log) n += c == code;
    return n;
}
inline std::vector<cell> TextCells(const char* text) {
    std::vector<cell> v;
    for (const char* p = text; *p; ++p) v.push_back(cell(static_cast<unsigned char>(*p)));
    v.push_back(0);
    return v;
}

// ---- the server's messages ---------------------------------------------------------------------

// [34][u32 address][u16 port][u16 index][u32 value]
inline std::vector<uint8_t> ConnAccepted(uint32_t value, uint16_t index = 3) {
    BitStream bs;
    bs.Write(uint8_t(ID_CONN_ACCEPTED));
    bs.Write(uint32_t(0x0100007F));
    bs.Write(uint16_t(7777));
    bs.Write(index);
    bs.Write(value);
    return std::vector<uint8_t>(bs.GetData(), bs.GetData() + bs.GetNumberOfBytesUsed());
}

struct GameInitFields {
    uint16_t ownId = 501;
    uint8_t hour = 15;
    uint8_t weather = 3;
    float gravity = 0.01f;
    std::string serverName = "Test Server";
};

// GameInit as the server writes it: four flags; u32; flag; u32; three flags; u32; u16 own id; flag;
// u32; u8 hour; u8 weather; f32 gravity; flag; u32; a 0 bit; five u32; u8 length + name;
// 212 bytes; u32.
inline void WriteGameInit(BitStream& bs, const GameInitFields& f) {
    for (int i = 0; i < 4; ++i) bs.Write(true);
    bs.Write(uint32_t(0x11111111));
    bs.Write(false);
    bs.Write(uint32_t(0x22222222));
    for (int i = 0; i < 3; ++i) bs.Write(true);
    bs.Write(uint32_t(1));
    bs.Write(f.ownId);
    bs.Write(true);
    bs.Write(uint32_t(1));
    bs.Write(f.hour);
    bs.Write(f.weather);
    bs.Write(f.gravity);
    bs.Write(false);
    bs.Write(uint32_t(0));
    bs.Write(false);
    for (int i = 0; i < 5; ++i) bs.Write(uint32_t(40 + i));
    bs.Write(uint8_t(f.serverName.size()));
    bs.WriteBytes(f.serverName.data(), int32_t(f.serverName.size()));
    const std::vector<uint8_t> opaque(212, 0x5A);
    bs.WriteBytes(opaque.data(), int32_t(opaque.size()));
    bs.Write(uint32_t(0xABCDEF01));
}

// A 50-byte spawn description with the given position and facing angle.
inline std::vector<uint8_t> SpawnInfo(float x, float y, float z, float angle) {
    std::vector<uint8_t> b(50, 0);
    auto put = [&](size_t at, float v) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(u >> (8 * i));
    };
    put(10, x);
    put(14, y);
    put(18, z);
    put(22, angle);
    return b;
}

inline std::vector<uint8_t> Bytes(const BitStream& bs) {
    return std::vector<uint8_t>(bs.GetData(), bs.GetData() + bs.GetNumberOfBytesUsed());
}

}  // namespace velt::test
