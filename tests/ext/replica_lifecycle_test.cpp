// Three objects replicated from an authority to two clients over real peers on loopback, each
// system on its own thread with its own sockets and identifier registry: construction, state
// updates, scope changes and destruction arrive at both clients in order.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "net/NetworkFactory.h"
#include "net/ext/ReplicaManager.h"
#include "tests/ext/replica_test_objects.h"
#include "tests/net/iface_support.h"

namespace velt {
namespace {

using replicatest::EventLog;
using replicatest::Thing;

struct System {
    NetworkIDRegistry registry;
    ReplicaManager manager{registry};
    EventLog log;
    std::vector<std::unique_ptr<Thing>> things;
    NetPeerInterface* peer = CreateNetPeer();

    ~System() {
        peer->Disconnect(0, 0);
        peer->DetachPlugin(&manager);
        DestroyNetPeer(peer);
    }
    void Pump() {
        while (Packet* packet = peer->Receive()) peer->FreePacket(packet);
    }
};

// A client: makes an object for each construction message, and runs its peer on its own thread.
struct Client : System {
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> participants{0};
    std::vector<uint32_t> constructionTimestamps;  // client thread only until joined
    std::thread thread;

    Client() {
        manager.SetAutoParticipate(true);
        manager.SetConstructionHandler(
            [this](BitStream* in, uint32_t timestamp, NetworkID id, PlayerID, ReplicaManager* m) {
                int32_t value = 0;
                if (!in->Read(value)) return REPLICA_CANCEL_PROCESS;
                things.push_back(std::make_unique<Thing>(registry, false, log, value));
                Thing& made = *things.back();
                made.SetId(id);
                made.manager = m;
                m->Register(&made);
                constructionTimestamps.push_back(timestamp);
                log.Add(made.Name() + " create " + std::to_string(value));
                return REPLICA_DONE;
            });
        manager.SetDownloadCompleteHandlers(nullptr, [this](BitStream* in, PlayerID, ReplicaManager*) {
            uint8_t mark = 0;
            log.Add(in->Read(mark) && mark == 0xD0 ? "download done" : "download garbled");
            return REPLICA_DONE;
        });
        peer->AttachPlugin(&manager);
    }
    void Start(uint16_t serverPort) {
        ASSERT_TRUE(peer->Initialize(1, 0, 1, "127.0.0.1"));
        ASSERT_TRUE(peer->Connect("127.0.0.1", serverPort, nullptr, 0));
        thread = std::thread([this] {
            const uint32_t deadline = GetTimeMs() + 60000;
            while (!stop.load() && TimeBefore(GetTimeMs(), deadline)) {
                Pump();
                participants.store(manager.GetParticipantCount());
                SleepMs(1);
            }
        });
    }
    void Join() {
        stop.store(true);
        if (thread.joinable()) thread.join();
    }
    ~Client() { Join(); }
};

TEST(ReplicaLifecycle, ThreeObjectsOnTwoClientsInOrder) {
    System authority;
    authority.manager.SetAutoParticipate(true);
    int downloadSends = 0;
    authority.manager.SetDownloadCompleteHandlers(
        [&](BitStream* out, uint32_t, PlayerID, ReplicaManager*) {
            ++downloadSends;
            out->Write(uint8_t(0xD0));
            return REPLICA_DONE;
        },
        nullptr);
    authority.peer->AttachPlugin(&authority.manager);
    // More slots than clients: a peer refuses a second system of one address that would take
    // its last slot.
    authority.peer->SetMaximumIncomingConnections(2);
    ASSERT_TRUE(authority.peer->Initialize(8, 0, 1, "127.0.0.1"));
    const uint16_t port = authority.peer->GetInternalID().port;

    Client clients[2];
    for (Client& client : clients) client.Start(port);
    auto waitFor = [&](auto done) {
        return test::WaitFor(
            [&] {
                authority.Pump();
                return done();
            },
            30000);
    };
    ASSERT_TRUE(waitFor([&] {
        return authority.manager.GetParticipantCount() == 2 && clients[0].participants == 1 &&
               clients[1].participants == 1;
    }));
    PlayerID ids[2];
    uint16_t count = 2;
    ASSERT_TRUE(authority.peer->GetConnectionList(ids, &count));
    ASSERT_EQ(count, 2);

    for (int32_t value : {10, 20, 30}) {
        authority.things.push_back(std::make_unique<Thing>(authority.registry, true, authority.log, value));
        authority.things.back()->GetId();  // named in creation order: obj0 carries 10
    }
    authority.things[0]->timestamp = true;
    auto everyClientHas = [&](const std::string& prefix, size_t n) {
        return
            [&, prefix, n] { return clients[0].log.Count(prefix) >= n && clients[1].log.Count(prefix) >= n; };
    };

    // Construction and scope-in together: each object arrives, comes into scope and sends its
    // state once.
    for (auto& thing : authority.things) {
        authority.manager.Construct(thing.get(), false, UNASSIGNED_PLAYER_ID, true);
        authority.manager.SetScope(thing.get(), true, UNASSIGNED_PLAYER_ID, true);
    }
    ASSERT_TRUE(waitFor(everyClientHas("obj2 state", 1)));
    ASSERT_TRUE(waitFor(everyClientHas("download", 1)));
    for (auto& thing : authority.things)
        for (PlayerID id : ids) {
            EXPECT_TRUE(authority.manager.IsConstructedAt(thing.get(), id));
            EXPECT_TRUE(authority.manager.IsInScopeAt(thing.get(), id));
        }

    for (auto& thing : authority.things) {
        ++thing->value;
        authority.manager.SignalSerializeNeeded(thing.get(), UNASSIGNED_PLAYER_ID, true);
    }
    ASSERT_TRUE(waitFor(everyClientHas("obj2 state", 2)));

    for (auto& thing : authority.things)
        authority.manager.SetScope(thing.get(), false, UNASSIGNED_PLAYER_ID, true);
    ASSERT_TRUE(waitFor(everyClientHas("obj2 scope out", 1)));
    EXPECT_FALSE(authority.manager.IsInScopeAt(authority.things[1].get(), ids[0]));

    for (auto& thing : authority.things) authority.manager.Destruct(thing.get(), UNASSIGNED_PLAYER_ID, true);
    ASSERT_TRUE(waitFor(everyClientHas("obj2 destroy", 1)));
    EXPECT_EQ(authority.manager.ReplicaCount(), 0u);
    EXPECT_FALSE(authority.manager.IsConstructedAt(authority.things[0].get(), ids[1]));
    EXPECT_EQ(downloadSends, 2) << "one download-complete message per participant";

    for (Client& client : clients) {
        client.Join();
        const std::vector<std::string> events = client.log.Snapshot();
        for (int k = 0; k < 3; ++k) {
            const std::string name = "obj" + std::to_string(k);
            const int32_t v = 10 * (k + 1);
            std::vector<std::string> mine;
            for (const std::string& e : events)
                if (e.rfind(name + " ", 0) == 0) mine.push_back(e.substr(name.size() + 1));
            EXPECT_EQ(mine, (std::vector<std::string>{
                                "create " + std::to_string(v), "scope in", "state " + std::to_string(v),
                                "state " + std::to_string(v + 1), "scope out", "destroy"}))
                << name;
        }
        // The download-complete message follows the last construction.
        size_t lastCreate = 0, download = events.size();
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].find(" create ") != std::string::npos) lastCreate = i;
            if (events[i] == "download done") download = i;
        }
        EXPECT_GT(download, lastCreate);
        EXPECT_EQ(client.log.Count("download"), 1u);
        ASSERT_EQ(client.constructionTimestamps.size(), 3u);
        // obj0's messages carry the timestamp prefix (arriving at all shows it was read past);
        // without one the time handed on is 0.
        EXPECT_EQ(client.constructionTimestamps[1], 0u);
        EXPECT_EQ(client.manager.ReplicaCount(), 0u) << "destroyed objects unregistered themselves";
    }
}

}  // namespace
}  // namespace velt
