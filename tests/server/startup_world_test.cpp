// "gravity" and "weather" lines of server.cfg run before the game server exists: their values wait
// in the console variables and the game server starts with them.

#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

TEST_F(GameServerTest, GravityAndWeatherLinesBeforeTheStartReachTheWorld) {
    console_->Execute("gravity 0.02");
    console_->Execute("weather 9");
    EXPECT_STREQ(console_->GetStringVariable("gravity"), "0.020000");
    EXPECT_STREQ(console_->GetStringVariable("weather"), "9");
    Start();
    EXPECT_FLOAT_EQ(game_->world.gravity, 0.02f);
    EXPECT_EQ(game_->world.weather, 9);
    // The start only: the next gamemode begins with the defaults again.
    game_->EndGameMode();
    game_->RestartGameMode();
    EXPECT_FLOAT_EQ(game_->world.gravity, 0.008f);
    EXPECT_EQ(game_->world.weather, 1);
}

TEST_F(GameServerTest, WithoutSuchLinesTheWorldStartsWithItsDefaults) {
    Start();
    // Not the weather variable's default text "10".
    EXPECT_EQ(game_->world.weather, 1);
    EXPECT_FLOAT_EQ(game_->world.gravity, 0.008f);
}

TEST_F(GameServerTest, OnceTheGameRunsTheLinesActAtOnce) {
    Start();
    console_->Execute("weather 4");
    EXPECT_EQ(game_->world.weather, 4);
    EXPECT_STREQ(console_->GetStringVariable("weather"), "4");
}

}  // namespace
}  // namespace velt::test
