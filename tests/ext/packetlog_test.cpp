// The packet loggers' lines, fed through the peer's hooks directly, and where each logger puts
// them: a channel of the log parser (handed over on the receiving thread) or a file of its own.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/Clock.h"
#include "net/NetPeer.h"
#include "net/ext/LogCommandParser.h"
#include "net/ext/PacketLogger.h"
#include "tests/ext/console_test_support.h"

namespace velt {
namespace {

constexpr PlayerID kRemote{0x0200007F, 6000};
const std::string kRemoteText = "33554559:6000";

// Keeps its lines instead of printing them.
class KeepingLogger : public PacketLogger {
public:
    std::vector<std::string> lines;

protected:
    void WriteLog(const char* line) override { lines.emplace_back(line); }
};

std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == ',')
            out.emplace_back();
        else if (c != '\n')
            out.back() += c;
    }
    return out;
}

InternalPacket Message(std::vector<uint8_t>& bytes, uint16_t number) {
    InternalPacket p{};
    p.messageNumber = number;
    p.data = bytes.data();
    p.bitLength = static_cast<uint32_t>(bytes.size() * 8);
    return p;
}

TEST(PacketLogger, RawLines) {
    KeepingLogger logger;
    const uint8_t seven[8] = {7, 1, 2, 3, 4, 5, 6, 7};
    const uint8_t vehicle[2] = {200, 0};
    logger.SetPrintID(false);
    logger.RawReceive(seven, 64, kRemote);
    logger.RawSend(vehicle, 16, kRemote);
    logger.SetPrintID(true);
    logger.RawSend(vehicle, 16, kRemote);
    logger.RawReceive(seven, 64, kRemote);
    ASSERT_EQ(logger.lines.size(), 4u);

    struct Case {
        const char* start;
        const char* id;
        const char* bits;
    } cases[] = {
        {"Rcv,Raw,  NIL,  NIL", "    7", "   64"},
        {"Snd,Raw,  NIL,  NIL", "  200", "   16"},
        {"Snd,Raw,NIL,NIL", "ID_VEHICLE_SYNC", "16"},
        {"Rcv,Raw,NIL,NIL", "Unknown", "64"},
    };
    for (size_t i = 0; i < 4; ++i) {
        const std::string& line = logger.lines[i];
        const std::vector<std::string> c = Columns(line);
        ASSERT_EQ(c.size(), 9u) << line;
        EXPECT_EQ(line.rfind(cases[i].start, 0), 0u) << line;
        EXPECT_EQ(c[4], cases[i].id) << line;
        EXPECT_EQ(c[5], cases[i].bits) << line;
        EXPECT_EQ(c[8], kRemoteText) << line;
        EXPECT_EQ(line.back(), '\n');
    }
}

TEST(PacketLogger, MessageLines) {
    KeepingLogger logger;
    std::vector<uint8_t> plain = {209, 1, 2};
    std::vector<uint8_t> stamped = {40, 1, 2, 3, 4, 207, 9};
    std::vector<uint8_t> call = {20, 77, 0, 0};
    std::vector<uint8_t> stampedCall = {40, 1, 2, 3, 4, 20, 88, 0};
    std::vector<uint8_t> shortStamp = {40, 1, 2};  // too short to hold the stamped id
    logger.InternalMessage(Message(plain, 12), 3, kRemote, 5999, false);
    logger.InternalMessage(Message(stamped, 13), 4, kRemote, 6000, false);
    logger.InternalMessage(Message(call, 14), 4, kRemote, 6000, false);
    logger.InternalMessage(Message(stampedCall, 15), 4, kRemote, 6000, false);
    logger.InternalMessage(Message(shortStamp, 16), 4, kRemote, 6000, false);
    logger.InternalMessage(Message(plain, 17), 4, kRemote, 6000, true);  // sent: no line
    logger.SetPrintID(false);
    logger.InternalMessage(Message(stamped, 18), 4, kRemote, 7000, false);

    const std::vector<std::string> want = {
        "Rcv,Nrm,12,3,ID_UNOCCUPIED_SYNC,24,5,0:0," + kRemoteText + "\n",
        "Rcv,Tms,13,4,ID_PLAYER_SYNC,56,6,0:0," + kRemoteText + "\n",
        "Rcv,Rpc,14,4,77,32,6,0:0," + kRemoteText + "\n",
        "Rcv,Rpc,15,4,88,64,6,0:0," + kRemoteText + "\n",
        "Rcv,Nrm,16,4,Unknown,24,6,0:0," + kRemoteText + "\n",
        "Rcv,Tms,   18,    4,  207,   56,7,0:0," + kRemoteText + "\n",
    };
    EXPECT_EQ(logger.lines, want);
}

TEST(PacketLogger, IdNames) {
    PacketLogger logger;
    const std::vector<std::pair<uint8_t, const char*>> names = {
        {200, "ID_VEHICLE_SYNC"},
        {201, "ID_RCON_COMMAND"},
        {202, "ID_RCON_RESPONCE"},
        {203, "ID_AIM_SYNC"},
        {204, "ID_WEAPONS_UPDATE"},
        {205, "ID_STATS_UPDATE"},
        {206, "Unknown"},
        {207, "ID_PLAYER_SYNC"},
        {208, "Unknown"},
        {209, "ID_UNOCCUPIED_SYNC"},
        {210, "ID_TRAILER_SYNC"},
        {211, "ID_PASSENGER_SYNC"},
        {212, "ID_SPECTATOR_SYNC"},
        {20, "Unknown"},
        {0, "Unknown"},
        {255, "Unknown"},
    };
    for (const auto& [id, name] : names) EXPECT_STREQ(logger.UserIDToString(id), name) << int(id);
}

// The peer's threads only queue the console logger's lines; they reach the parser, and through it
// the subscribed clients, on the thread that receives.
TEST(PacketConsoleLogger, LinesReachTheParserOnTheReceivingThread) {
    PacketConsoleLogger withoutParser;
    const uint8_t byte = 1;
    withoutParser.RawReceive(&byte, 8, kRemote);
    withoutParser.Update(nullptr);  // nothing queued, nothing to hand over

    LogCommandParser log;
    test::MemoryTransport transport;
    log.OnTransportSet(&transport);
    PacketConsoleLogger logger;
    logger.SetLogCommandParser(&log);
    EXPECT_EQ(log.FindChannel("PacketConsoleLogger"), 0);
    log.SubscribeClient(kRemote, "PacketConsoleLogger");

    std::thread network([&] {
        for (int i = 0; i < 200; ++i) logger.RawReceive(&byte, 8, kRemote);
    });
    int delivered = 0;
    while (delivered < 200) {
        logger.Update(nullptr);
        const std::string text = transport.TakeOutput(kRemote);
        for (size_t at = text.find("Rcv,Raw"); at != std::string::npos; at = text.find("Rcv,Raw", at + 1))
            ++delivered;
        if (text.empty()) std::this_thread::yield();
    }
    network.join();
    EXPECT_EQ(delivered, 200);
    EXPECT_EQ(logger.GetDroppedLineCount(), 0u);
}

TEST(PacketConsoleLogger, PendingLinesAreBounded) {
    LogCommandParser log;
    PacketConsoleLogger logger;
    logger.SetLogCommandParser(&log);
    const uint8_t byte = 1;
    for (size_t i = 0; i < PacketConsoleLogger::kMaxPendingLines + 10; ++i) logger.RawSend(&byte, 8, kRemote);
    EXPECT_EQ(logger.GetDroppedLineCount(), 10u);
}

TEST(PacketFileLogger, OpensItsFileWhenAttached) {
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("velt_packetlog_" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(scratch);

    PacketFileLogger* logger = new PacketFileLogger();
    EXPECT_FALSE(logger->HasFile());
    NetPeer peer;
    const NetTime earliest = GetTimeMs();
    peer.AttachPlugin(logger);
    const NetTime latest = GetTimeMs();
    ASSERT_TRUE(logger->HasFile());
    const std::string name = logger->GetFileName();
    bool named = false;
    for (NetTime t = earliest; t <= latest; ++t)
        named = named || name == "PacketLog" + std::to_string(t) + ".csv";
    EXPECT_TRUE(named) << name;

    const uint8_t byte = 7;
    logger->RawReceive(&byte, 8, kRemote);
    peer.DetachPlugin(logger);
    peer.AttachPlugin(logger);  // attached again: the same file goes on
    EXPECT_EQ(logger->GetFileName(), name);
    peer.DetachPlugin(logger);
    delete logger;

    std::ifstream file(name);
    std::string header, line, rest;
    std::getline(file, header);
    std::getline(file, line);
    EXPECT_EQ(header, "S|R,Typ,Pckt#,Frm #,PktID,BitLn,Time     ,Local IP:Port   ,RemoteIP:Port");
    EXPECT_EQ(line.rfind("Rcv,Raw,NIL,NIL,Unknown,8,", 0), 0u) << line;
    EXPECT_FALSE(std::getline(file, rest)) << "one header only";

    std::filesystem::current_path(before);
    std::filesystem::remove_all(scratch);
}

}  // namespace
}  // namespace velt
