// The player step of the streaming pass (ground-plane distance against "stream_distance", virtual
// worlds, passengers, the cap, the download hold) and the map-marker packet.

#include <algorithm>
#include <cmath>
#include <string>

#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

class StreamingTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        settings_.streamDistance = 100.0f;
        StartProtocol();
    }
    void MoveTo(uint16_t id, float x, float y, float z = 10.0f) {
        player(id)->UpdatePosition(x, y, z, false);
    }

    struct Marker {
        uint16_t id;
        bool visible;
        int16_t x = 0, y = 0, z = 0;
    };
    // The markers of the one 208 packet the slot got since the last clear; the count written must
    // be the number of entries that follow, with nothing after them.
    std::vector<Marker> Markers(uint16_t slot) {
        auto packets = PacketsTo(slot, 208);
        EXPECT_EQ(packets.size(), 1u);
        if (packets.size() != 1) return {};
        EXPECT_EQ(packets[0].reliability, RELIABILITY_UNRELIABLE_SEQUENCED);
        Reader r(packets[0]);
        r.Get<uint8_t>();
        uint32_t count = r.Get<uint32_t>();
        std::vector<Marker> out;
        for (uint32_t i = 0; i < count && r.Left() > 0; ++i) {
            Marker m{r.Get<uint16_t>(), r.Get<bool>()};
            if (m.visible) {
                m.x = r.Get<int16_t>();
                m.y = r.Get<int16_t>();
                m.z = r.Get<int16_t>();
            }
            out.push_back(m);
        }
        EXPECT_EQ(out.size(), count);
        EXPECT_EQ(r.Left(), 0);
        return out;
    }
    void MarkersDue() {
        now_ += 2501;
        net_->sent.clear();
    }
};

TEST_F(StreamingTest, PlayersStreamByGroundDistanceAndWorld) {
    scripts_.gameModePublics["OnPlayerStreamIn"] = 1;
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    JoinAt(1, "Other", 0.0f, 0.0f);
    struct Case {
        const char* what;
        float x, y, z;
        int32_t world;
        bool streamed;
    };
    const Case cases[] = {
        {"at the distance exactly", 60.0f, 80.0f, 10.0f, 0, true},
        {"height does not count", 60.0f, 80.0f, 5000.0f, 0, true},
        {"just beyond", 60.0f, 80.01f, 10.0f, 0, false},
        {"back in range", 10.0f, 10.0f, 10.0f, 0, true},
        {"another world", 10.0f, 10.0f, 10.0f, 5, false},
        {"same world again", 10.0f, 10.0f, 10.0f, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        net_->sent.clear();
        scripts_.Clear();
        bool was = player(0)->IsPlayerStreamedIn(1);
        MoveTo(1, c.x, c.y, c.z);
        pool()->SetVirtualWorld(1, c.world);
        player(0)->StreamingPass();
        EXPECT_EQ(player(0)->IsPlayerStreamedIn(1), c.streamed);
        if (c.streamed == was) {
            EXPECT_TRUE(RpcsTo(0, RPC_PlayerStreamIn).empty());
            EXPECT_TRUE(RpcsTo(0, RPC_PlayerStreamOut).empty());
        } else if (c.streamed) {
            auto in = RpcsTo(0, RPC_PlayerStreamIn);
            ASSERT_EQ(in.size(), 1u);
            EXPECT_EQ(Reader(in[0]).Get<uint16_t>(), 1);
            EXPECT_EQ(CallsNamed("OnPlayerStreamIn"), (std::vector<std::string>{"gm:OnPlayerStreamIn(1,0)"}));
        } else {
            EXPECT_EQ(RpcsTo(0, RPC_PlayerStreamOut).size(), 1u);
        }
    }
}

TEST_F(StreamingTest, OnlyPlayersInPlayStreamAndADownloadHoldsStreamingIn) {
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    JoinAt(1, "Spectator", 1.0f, 1.0f);
    player(1)->SetState(PLAYER_STATE_SPECTATING);
    Join(2, "Joining");  // state none
    player(0)->StreamingPass();
    EXPECT_EQ(player(0)->StreamedPlayerCount(), 0);

    JoinAt(3, "Walker", 2.0f, 2.0f);
    player(0)->SetDownloading(true);
    player(0)->StreamingPass();
    EXPECT_FALSE(player(0)->IsPlayerStreamedIn(3));
    player(0)->SetDownloading(false);
    player(0)->StreamingPass();
    EXPECT_TRUE(player(0)->IsPlayerStreamedIn(3));

    // A passenger is measured at his vehicle; without one his state for others stays as it was.
    player(3)->SetVehicleId(17);
    player(3)->SetState(PLAYER_STATE_PASSENGER);
    MoveTo(3, 5000.0f, 5000.0f);
    player(0)->StreamingPass();
    EXPECT_TRUE(player(0)->IsPlayerStreamedIn(3));
}

TEST_F(StreamingTest, NoMoreThan201PlayersAreStreamedIn) {
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    for (uint16_t id = 1; id <= 205; ++id) JoinAt(id, ("P" + std::to_string(id)).c_str(), 1.0f, 1.0f);
    player(0)->StreamingPass();
    EXPECT_EQ(player(0)->StreamedPlayerCount(), 201);
    EXPECT_TRUE(player(0)->IsPlayerStreamedIn(201));
    EXPECT_FALSE(player(0)->IsPlayerStreamedIn(202));
    EXPECT_EQ(RpcsTo(0, RPC_PlayerStreamIn).size(), 201u);

    // A place frees up when one leaves the range; the next pass takes the first one waiting.
    MoveTo(5, 900.0f, 900.0f);
    player(0)->StreamingPass();
    EXPECT_FALSE(player(0)->IsPlayerStreamedIn(5));
    EXPECT_TRUE(player(0)->IsPlayerStreamedIn(202));
    EXPECT_EQ(player(0)->StreamedPlayerCount(), 201);
}

TEST_F(StreamingTest, StreamRateDrivesThePassFromPositionUpdates) {
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    JoinAt(1, "Other", 3.0f, 3.0f);
    MoveTo(0, 0.0f, 1.0f);
    EXPECT_FALSE(player(0)->IsPlayerStreamedIn(1));
    now_ += uint32_t(settings_.streamRate) + 1;
    MoveTo(0, 0.0f, 2.0f);
    EXPECT_TRUE(player(0)->IsPlayerStreamedIn(1));
}

TEST_F(StreamingTest, MarkerCountMatchesTheEntriesForEveryReceiver) {
    // Alone, and a bot alone with one human: the count is what follows, never "humans - 1".
    JoinAt(0, "Solo", 0.0f, 0.0f);
    MarkersDue();
    player(0)->SendMapMarkers();
    EXPECT_TRUE(Markers(0).empty());

    JoinAt(1, "Npc", 0.0f, 0.0f, 10.0f, true);
    JoinAt(2, "Far", -12.7f, 40000.9f, 3.99f);
    JoinAt(3, "Elsewhere", 5.0f, 5.0f);
    pool()->SetVirtualWorld(3, 5);
    Join(4, "Lobby");  // state none
    MarkersDue();
    player(1)->SendMapMarkers();
    auto bot = Markers(1);
    ASSERT_EQ(bot.size(), 4u);  // humans 0, 2, 3, 4; never the bot itself
    EXPECT_EQ(bot[0].id, 0);
    EXPECT_TRUE(bot[0].visible);
    // Truncated toward zero; a coordinate beyond 16 bits is held at the limit, not wrapped.
    EXPECT_EQ(bot[1].id, 2);
    ASSERT_TRUE(bot[1].visible);
    EXPECT_EQ(bot[1].x, -12);
    EXPECT_EQ(bot[1].y, 32767);
    EXPECT_EQ(bot[1].z, 3);
    EXPECT_FALSE(bot[2].visible);  // another world
    EXPECT_FALSE(bot[3].visible);  // not in play

    player(0)->SendMapMarkers();  // bot 1 is never listed; 2, 3, 4 are
    EXPECT_EQ(Markers(0).size(), 3u);
}

TEST_F(StreamingTest, MarkersFollowModeRadiusAndInterval) {
    JoinAt(0, "Viewer", 0.0f, 0.0f);
    JoinAt(1, "Near", 30.0f, 40.0f);
    game_->world.limitPlayerMarkerRadius = 1;
    game_->world.playerMarkerRadius = 50.0f;
    MarkersDue();
    player(0)->SendMapMarkers();
    auto m = Markers(0);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(m[0].visible);  // exactly at the radius

    player(1)->UpdatePosition(30.0f, 40.1f, 10.0f, false);
    MarkersDue();
    player(0)->SendMapMarkers();
    m = Markers(0);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_FALSE(m[0].visible);

    // One packet per 2500 ms, and none at all in any mode but 1.
    net_->sent.clear();
    now_ += 2500;
    player(0)->SendMapMarkers();
    EXPECT_TRUE(PacketsTo(0, 208).empty());
    now_ += 1;
    game_->world.playerMarkerMode = 2;
    player(0)->SendMapMarkers();
    EXPECT_TRUE(PacketsTo(0, 208).empty());
}

TEST_F(StreamingTest, ALongMarkerPacketCarriesEveryEntryAsWritten) {
    // Hundreds of entries, ids past one byte, coordinates of every sign and size, worlds and
    // states mixed: each entry decodes to the player it stands for.
    constexpr uint16_t kPlayers = 300;
    for (uint16_t id = 0; id < kPlayers; ++id) {
        const float x = float(int(id * 7919) % 70001 - 35000) + 0.75f;
        const float y = id % 13 == 0 ? std::nanf("") : -float(id) * 3.3f;
        JoinAt(id, ("M" + std::to_string(id)).c_str(), x, y, float(id % 5) - 2.5f);
        if (id % 11 == 0) pool()->SetVirtualWorld(id, 1);
        if (id % 17 == 0) player(id)->SetState(PLAYER_STATE_SPECTATING);
    }
    MarkersDue();
    player(5)->SendMapMarkers();
    const auto markers = Markers(5);
    ASSERT_EQ(markers.size(), size_t(kPlayers - 1));
    size_t at = 0;
    for (uint16_t id = 0; id < kPlayers; ++id) {
        if (id == 5) continue;
        SCOPED_TRACE(id);
        const Marker& m = markers[at++];
        ASSERT_EQ(m.id, id);
        const bool visible = id % 11 != 0 && id % 17 != 0;
        ASSERT_EQ(m.visible, visible);
        if (!visible) continue;
        const Vector3& where = player(id)->GetPosition();
        const float x = std::clamp(where.x, -32768.0f, 32767.0f);
        EXPECT_EQ(m.x, int16_t(x));
        EXPECT_EQ(m.y, std::isnan(where.y) ? 0 : int16_t(where.y));
        EXPECT_EQ(m.z, int16_t(where.z));
    }
}

}  // namespace
}  // namespace velt::test
