// One replica manager fed a fuzz-chosen session: received messages from participants and from a
// stranger, updates, application requests, and objects and handlers that answer with any
// result (out-of-range ones too). Sanitizers catch what goes wrong; the waiting messages are
// freed with their participant.
#include <cstdint>
#include <memory>
#include <vector>

#include "net/NetworkFactory.h"
#include "net/Packet.h"
#include "net/ext/ReplicaManager.h"
#include "tests/ext/replica_test_objects.h"

using namespace velt;
using replicatest::EventLog;
using replicatest::Thing;

namespace {

const PlayerID kSenders[] = {{0x0100007F, 1}, {0x0100007F, 2}, {0x0200007F, 3}};

NetPeerInterface* IdlePeer() {
    static NetPeerInterface* peer = CreateNetPeer();  // never started: sends go nowhere
    return peer;
}

ReplicaReturnResult AnyResult(uint8_t byte) { return ReplicaReturnResult(byte % 5); }

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    NetworkIDRegistry registry;
    EventLog log;
    std::vector<std::unique_ptr<Thing>> things;
    {
        ReplicaManager manager(registry);
        manager.AddParticipant(kSenders[0]);
        manager.AddParticipant(kSenders[1]);
        ReplicaReturnResult constructionResult = REPLICA_DONE;
        manager.SetConstructionHandler(
            [&](BitStream* body, uint32_t, NetworkID id, PlayerID, ReplicaManager* m) {
                if (constructionResult != REPLICA_DONE || things.size() >= 32) return constructionResult;
                int32_t value = 0;
                (void)body->Read(value);
                things.push_back(std::make_unique<Thing>(registry, false, log, value));
                things.back()->SetId(id);
                things.back()->manager = m;
                m->Register(things.back().get());
                return REPLICA_DONE;
            });
        manager.SetDownloadCompleteHandlers(
            [&](BitStream*, uint32_t, PlayerID, ReplicaManager*) { return constructionResult; },
            [&](BitStream*, PlayerID, ReplicaManager*) { return constructionResult; });
        for (int i = 0; i < 3; ++i) {
            things.push_back(std::make_unique<Thing>(registry, true, log, i));
            things.back()->manager = &manager;
            things.back()->GetId();
        }

        while (in.More()) {
            const uint8_t op = in.Byte();
            switch (op % 4) {
                case 0: {
                    const size_t length = in.Byte();
                    Packet* packet = NewPacket(uint32_t(length));
                    for (size_t i = 0; i < length; ++i) packet->data[i] = in.Byte();
                    packet->bitLength = length * 8 > (op >> 5) ? uint32_t(length * 8 - (op >> 5)) : 0;
                    packet->sender = kSenders[(op >> 2) % 3];
                    (void)manager.Received(nullptr, packet);
                    FreePacket(packet);
                    break;
                }
                case 1: manager.Update(IdlePeer()); break;
                case 2: {
                    const uint8_t choice = in.Byte();
                    constructionResult = AnyResult(choice);
                    Thing& t = *things[in.Byte() % things.size()];
                    t.constructionResult = AnyResult(choice >> 1);
                    t.scopeResult = AnyResult(choice >> 2);
                    t.stateResult = AnyResult(choice >> 3);
                    t.readResult = AnyResult(choice >> 4);
                    t.repeatsLeft = choice >> 6;
                    break;
                }
                default: {
                    const uint8_t choice = in.Byte();
                    Thing* t = things[in.Byte() % things.size()].get();
                    const PlayerID target = kSenders[choice % 3];
                    const bool broadcast = (choice & 4) != 0;
                    switch ((choice >> 3) % 6) {
                        case 0: manager.Construct(t, (choice & 0x80) != 0, target, broadcast); break;
                        case 1: manager.SetScope(t, (choice & 0x80) != 0, target, broadcast); break;
                        case 2: manager.SignalSerializeNeeded(t, target, broadcast); break;
                        case 3: manager.Destruct(t, target, broadcast); break;
                        case 4: manager.DenyOperations(t, choice); break;
                        default:
                            manager.RemoveParticipant(target);
                            manager.AddParticipant(target);
                            break;
                    }
                }
            }
        }
    }  // the manager goes before the objects it points at
    return 0;
}
