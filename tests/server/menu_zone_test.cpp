// Menus and gang zones: the menu description with one and two columns, when it is sent again, the
// limits of ids, rows and texts; the zones' messages with their byte-reversed colours.

#include <string>
#include <vector>

#include "server/world/GangZonePool.h"
#include "server/world/MenuPool.h"
#include "tests/server/game_server_fixture.h"
#include "tests/server/sent_rpcs.h"

namespace velt::test {
namespace {

// A 32-byte text field: the text, then zeros.
Bytes Field(const std::string& text) {
    Bytes out(32, 0);
    std::copy(text.begin(), text.end(), out.begin());
    return out;
}

Bytes Repeat(const Bytes& part, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
    return out;
}

class MenuZoneTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        Start();
        Join(0, "Ann");
        Join(4, "Ben");
        net_->sent.clear();
    }
    MenuPool& menus() { return *game_->GetMenuPool(); }
    GangZonePool& zones() { return *game_->GetGangZonePool(); }
    std::vector<SentRpc> Sent() { return TakeWorldRpcs(*net_); }
    std::vector<uint8_t> SentIds() {
        std::vector<uint8_t> ids;
        for (const SentRpc& r : Sent()) ids.push_back(r.id);
        return ids;
    }
};

TEST_F(MenuZoneTest, MenuDescriptionCarriesTheSecondColumnOnlyWhenThereIsOne) {
    const uint8_t one = menus().Create("Shop", 10.5f, 20.5f, 1, 100.0f, 80.0f);
    Menu& single = *menus().Get(one);
    EXPECT_EQ(single.AddItem(0, "Pistol"), 0);
    EXPECT_EQ(single.AddItem(0, "Rifle"), 1);
    EXPECT_EQ(single.AddItem(1, "hidden"), 0);  // kept, but a one-column menu never sends it
    single.SetColumnHeader(0, "Guns");
    single.DisableRow(1);
    single.ShowForPlayer(4);
    const Bytes rows = Cat({U32(1), U32(0), Repeat(U32(1), 10)});
    EXPECT_EQ(Sent(), (std::vector<SentRpc>{
                          {RPC_MenuInit, 4,
                           Cat({U8(one), U32(0), Field("Shop"), F32(10.5f), F32(20.5f), F32(100.0f), U32(1),
                                rows, Field("Guns"), U8(2), Field("Pistol"), Field("Rifle")})},
                          {RPC_MenuShow, 4, U8(one)}}));

    const uint8_t two = menus().Create("Bank", 1.0f, 2.0f, 2, 30.0f, 40.0f);
    Menu& pair = *menus().Get(two);
    pair.AddItem(1, "Balance");
    pair.SetColumnHeader(1, "Right");
    pair.Disable();
    pair.InitForPlayer(0);
    EXPECT_EQ(Sent(),
              (std::vector<SentRpc>{
                  {RPC_MenuInit, 0,
                   Cat({U8(two), U32(1), Field("Bank"), F32(1.0f), F32(2.0f), F32(30.0f), F32(40.0f), U32(0),
                        Repeat(U32(1), 12), Field(""), U8(0), Field("Right"), U8(1), Field("Balance")})}}));
    EXPECT_EQ(menus().Get(menus().Create("x", 0, 0, 3, 0, 0))->Columns(), 1);
}

TEST_F(MenuZoneTest, TheDescriptionGoesOnceUntilRowsOrHeadersChange) {
    Menu& menu = *menus().Get(menus().Create("M", 0, 0, 2, 1, 1));
    menu.ShowForPlayer(0);
    menu.ShowForPlayer(0);
    EXPECT_EQ(SentIds(), (std::vector<uint8_t>{RPC_MenuInit, RPC_MenuShow, RPC_MenuShow}));
    menu.DisableRow(3);  // the player keeps what he has
    menu.Disable();
    menu.ShowForPlayer(0);
    EXPECT_EQ(SentIds(), (std::vector<uint8_t>{RPC_MenuShow}));
    menu.AddItem(0, "new");
    menu.ShowForPlayer(0);
    menu.SetColumnHeader(1, "head");
    menu.ShowForPlayer(0);
    menu.SetColumnHeader(2, "ignored");  // no such column: nothing changes
    menu.HideForPlayer(0);
    menu.ShowForPlayer(0);
    EXPECT_EQ(SentIds(), (std::vector<uint8_t>{RPC_MenuInit, RPC_MenuShow, RPC_MenuInit, RPC_MenuShow,
                                               RPC_MenuHide, RPC_MenuShow}));
    menu.ResetPlayerInit();
    menu.ShowForPlayer(0);
    EXPECT_EQ(SentIds(), (std::vector<uint8_t>{RPC_MenuInit, RPC_MenuShow}));
    // Player ids beyond the players' are no one's.
    menu.ShowForPlayer(1000);
    menu.InitForPlayer(0xFFFF);
    menu.HideForPlayer(1000);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(MenuZoneTest, MenuIdsRowsAndTextsHaveTheirLimits) {
    for (int i = 1; i <= 127; ++i) ASSERT_EQ(menus().Create("m", 0, 0, 1, 0, 0), i);
    EXPECT_EQ(menus().Create("m", 0, 0, 1, 0, 0), kNoMenu);
    EXPECT_EQ(menus().Destroy(0), 0);
    EXPECT_EQ(menus().Destroy(128), 0);
    EXPECT_EQ(menus().Destroy(255), 0);
    EXPECT_EQ(menus().Destroy(60), 1);
    EXPECT_EQ(menus().Destroy(60), 0);
    EXPECT_EQ(menus().Create(std::string(40, 't'), 0, 0, 1, 0, 0), 60);
    EXPECT_EQ(std::string(menus().Get(60)->Title().data()), std::string(31, 't'));
    EXPECT_TRUE(Sent().empty());  // menus come and go without a word to the players

    Menu& menu = *menus().Get(60);
    for (int row = 0; row < 12; ++row) ASSERT_EQ(menu.AddItem(1, std::string(50, char('a' + row))), row);
    menu.InitForPlayer(0);
    Sent();
    EXPECT_EQ(menu.AddItem(1, "13th"), kNoMenu);
    EXPECT_EQ(menu.AddItem(2, "no column"), kNoMenu);
    EXPECT_EQ(menu.ItemCount(1), 12);
    EXPECT_EQ(std::string(menu.Item(11, 1).data()), std::string(31, 'l'));
    EXPECT_TRUE(menu.WasSentTo(0));  // a refused item changes nothing
}

TEST_F(MenuZoneTest, TheNextPlayerOfASlotIsSentTheWholeMenuAndHasNoneOpen) {
    Menu& menu = *menus().Get(menus().Create("M", 0, 0, 1, 0, 0));
    menu.ShowForPlayer(4);
    menus().SetPlayerMenu(4, menu.Id());
    ASSERT_EQ(game_->GetPlayerPool()->Disconnect(4, 0), 1);
    Join(4, "Cid");
    EXPECT_EQ(menus().GetPlayerMenu(4), kNoMenu);
    net_->sent.clear();
    menu.ShowForPlayer(4);
    EXPECT_EQ(SentIds(), (std::vector<uint8_t>{RPC_MenuInit, RPC_MenuShow}));
    EXPECT_EQ(menus().GetPlayerMenu(1000), kNoMenu);
}

TEST_F(MenuZoneTest, ZoneMessagesCarryTheRectangleAndTheReversedColour) {
    const uint16_t zone = zones().Create({50.0f, -10.0f, 10.0f, 20.5f});  // kept as given, not reordered
    EXPECT_EQ(zone, 0);
    zones().ShowForPlayer(4, zone, 0xFF000080);
    zones().FlashForPlayer(0, zone, 0x11223344);
    zones().StopFlashForPlayer(0, zone);
    zones().HideForPlayer(4, zone);
    const Bytes rect = Cat({F32(50.0f), F32(-10.0f), F32(10.0f), F32(20.5f)});
    EXPECT_EQ(Sent(),
              (std::vector<SentRpc>{{RPC_GangZoneShow, 4, Cat({U16(0), rect, Bytes{0xFF, 0x00, 0x00, 0x80}})},
                                    {RPC_GangZoneFlash, 0, Cat({U16(0), Bytes{0x11, 0x22, 0x33, 0x44}})},
                                    {RPC_GangZoneFlashStop, 0, U16(0)},
                                    {RPC_GangZoneHide, 4, U16(0)}}));

    zones().ShowForAll(zone, 0x01020304);
    zones().FlashForAll(zone, 0x05060708);
    zones().StopFlashForAll(zone);
    zones().HideForAll(zone);
    const Bytes show = Cat({U16(0), rect, Bytes{1, 2, 3, 4}});
    EXPECT_EQ(Sent(), (std::vector<SentRpc>{{RPC_GangZoneShow, 0, show},
                                            {RPC_GangZoneShow, 4, show},
                                            {RPC_GangZoneFlash, 0, Cat({U16(0), Bytes{5, 6, 7, 8}})},
                                            {RPC_GangZoneFlash, 4, Cat({U16(0), Bytes{5, 6, 7, 8}})},
                                            {RPC_GangZoneFlashStop, 0, U16(0)},
                                            {RPC_GangZoneFlashStop, 4, U16(0)},
                                            {RPC_GangZoneHide, 0, U16(0)},
                                            {RPC_GangZoneHide, 4, U16(0)}}));

    // Destroy hides it from everyone, shown or not; show and flash of a freed zone say nothing.
    zones().Destroy(zone);
    EXPECT_EQ(Sent(), (std::vector<SentRpc>{{RPC_GangZoneHide, 0, U16(0)}, {RPC_GangZoneHide, 4, U16(0)}}));
    EXPECT_FALSE(zones().Exists(zone));
    zones().ShowForPlayer(0, zone, 1);
    zones().FlashForAll(zone, 1);
    zones().ShowForAll(kMaxGangZones, 1);
    zones().Destroy(zone);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(MenuZoneTest, AFullZonePoolGivesNoId) {
    for (uint16_t i = 0; i < kMaxGangZones; ++i) ASSERT_EQ(zones().Create({}), i);
    EXPECT_EQ(zones().Create({}), kNoGangZone);
    zones().Destroy(513);
    net_->sent.clear();
    EXPECT_EQ(zones().Create({}), 513);
}

}  // namespace
}  // namespace velt::test
