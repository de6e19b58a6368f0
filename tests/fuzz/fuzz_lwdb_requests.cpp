// The database server fed fuzz-chosen requests from three systems, with ping passes on a clock
// the input moves. Tables of every option mix; the peer never starts, so replies, bans and
// pings go nowhere. A request that does not read whole must change nothing.
#include <cstdint>
#include <cstdlib>

#include "net/NetworkFactory.h"
#include "net/Packet.h"
#include "net/ext/LightweightDatabaseServer.h"

using namespace velt;
using DataStructures::Table;

namespace {

const PlayerID kSenders[] = {{0x0100007F, 1}, {0x0200007F, 2}, {0x0300007F, 3}};
NetTime g_now = 100000;
NetTime Now() { return g_now; }

NetPeerInterface* IdlePeer() {
    static NetPeerInterface* peer = CreateNetPeer();
    return peer;
}

void AddTables(LightweightDatabaseServer& db) {
    for (int options = 0; options < 4; ++options) {
        char name[2] = {char('a' + options), 0};
        Table* t = db.AddTable(name, true, true, true, options & 1 ? "q" : nullptr, nullptr,
                               options & 2 ? "r" : nullptr, options & 1, options & 2, options != 0,
                               options & 1, options & 2);
        t->AddColumn("n", Table::NUMERIC);
        t->AddColumn("s", Table::STRING);
        t->AddColumn("b", Table::BINARY);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LightweightDatabaseServer db;
    db.SetClock(&Now);
    g_now = 100000;
    AddTables(db);
    size_t at = 0;
    auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    while (at < size) {
        const uint8_t op = byte();
        if (op % 8 == 7) {
            g_now += uint32_t(byte()) * 1000;
            db.Update(IdlePeer());
            continue;
        }
        const size_t length = size_t(byte()) << (op & 1 ? 2 : 0);
        Packet* packet = NewPacket(uint32_t(length + 1));
        packet->data[0] = uint8_t(86 + (op >> 1) % 3);
        for (size_t i = 0; i < length; ++i) packet->data[1 + i] = byte();
        packet->sender = kSenders[(op >> 3) % 3];
        if (op & 0x40) packet->data[0] = uint8_t(op & 0x80 ? 32 : 39);
        if (db.Received(IdlePeer(), packet) == PRR_CONTINUE && packet->data[0] >= 86 && packet->data[0] <= 88)
            std::abort();  // requests are always consumed
        FreePacket(packet);
    }
    return 0;
}
