#include "net/ext/NetCommandParser.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "net/NetPeerInterface.h"
#include "net/ext/TransportInterface.h"

namespace velt {

namespace {

// One typed command on its way to the peer: the words and where the answer goes.
struct Call {
    NetPeerInterface* peer;
    const char* command;
    char** words;
    TransportInterface* transport;
    PlayerID client;

    // A decimal number, 0 without leading digits. Only the low 32 bits count, so an address typed
    // as the negative number the result lines print comes back as the same bits.
    int32_t Int(uint32_t i) const {
        return static_cast<int32_t>(static_cast<uint32_t>(std::strtoll(words[i], nullptr, 10)));
    }
    uint32_t UInt(uint32_t i) const { return static_cast<uint32_t>(Int(i)); }
    uint16_t U16(uint32_t i) const { return static_cast<uint16_t>(Int(i)); }
    uint8_t U8(uint32_t i) const { return static_cast<uint8_t>(Int(i)); }
    bool Bool(uint32_t i) const { return Int(i) != 0; }
    double Real(uint32_t i) const { return std::strtod(words[i], nullptr); }
    const char* Text(uint32_t i) const { return words[i]; }
    const uint8_t* Bytes(uint32_t i) const { return reinterpret_cast<const uint8_t*>(words[i]); }
    PlayerID Id(uint32_t i) const { return PlayerID{UInt(i), U16(i + 1)}; }
    // A length typed for the word at text: never more than the word and its terminator hold, so
    // the peer cannot be sent reading past them.
    int32_t LengthOf(uint32_t text, uint32_t length) const {
        const int32_t typed = Int(length);
        const int32_t room = static_cast<int32_t>(std::strlen(words[text]) + 1);
        return std::clamp(typed, 0, room);
    }

    void Report(bool result) const {
        CommandParserInterface::ReportResult(result, command, transport, client);
    }
    void Report(int32_t result) const {
        CommandParserInterface::ReportResult(result, command, transport, client);
    }
    void Report(const char* result) const {
        CommandParserInterface::ReportResult(result, command, transport, client);
    }
    void Report(PlayerID result) const {
        CommandParserInterface::ReportResult(result, command, transport, client);
    }
    void Done() const { CommandParserInterface::ReportResult(command, transport, client); }
};

void ListConnections(const Call& c) {
    PlayerID systems[NetCommandParser::kMaxListedConnections];
    uint16_t count = NetCommandParser::kMaxListedConnections;
    if (!c.peer->GetConnectionList(systems, &count)) {
        c.transport->Send(c.client, "GetConnectionList() returned false.\r\n");
        return;
    }
    // The peer reports how many systems there are, which can be more than the list holds.
    count = std::min(count, NetCommandParser::kMaxListedConnections);
    if (count == 0) {
        c.transport->Send(c.client, "GetConnectionList() returned no systems connected.\r\n");
        return;
    }
    c.transport->Send(c.client, "GetConnectionList() returned:\r\n");
    for (uint16_t i = 0; i < count; ++i) {
        c.transport->Send(c.client, "%i %s %i:%i\r\n", i, c.peer->PlayerIDToDottedIP(systems[i]),
                          static_cast<int32_t>(systems[i].binaryAddress), systems[i].port);
    }
}

void AddressFromText(const Call& c) {
    PlayerID id = UNASSIGNED_PLAYER_ID;
    c.peer->IPToPlayerID(c.Text(0), c.U16(1), &id);
    if (id == UNASSIGNED_PLAYER_ID) {
        c.transport->Send(c.client, "IPToPlayerID(): UNASSIGNED_PLAYER_ID.\r\n");
        return;
    }
    c.transport->Send(c.client, "IPToPlayerID(): %s %i:%i\r\n", c.peer->PlayerIDToDottedIP(id),
                      static_cast<int32_t>(id.binaryAddress), id.port);
}

void ShowPassword(const Call& c) {
    char password[kPasswordTextBytes];
    if (CopyIncomingPassword(c.peer, password) != 0)
        c.Report(static_cast<const char*>(password));
    else
        c.Report(int32_t{0});
}

struct Row {
    const char* name;
    const char* help;
    uint8_t words;
    void (*run)(const Call&);
};

// Registered in this order; word counts include both words of each PlayerID.
const Row kRows[] = {
    {"Initialize",
     "( unsigned short maxConnections, unsigned short localPort, int _threadSleepTimer, const char "
     "*forceHostAddress );",
     4, [](const Call& c) { c.Report(c.peer->Initialize(c.U16(0), c.U16(1), c.Int(2), c.Text(3))); }},
    {"InitializeSecurity", "();", 0,
     [](const Call& c) {
         c.peer->InitializeSecurity(nullptr, nullptr, nullptr, nullptr);
         c.Done();
     }},
    {"DisableSecurity", "( void );", 0,
     [](const Call& c) {
         c.peer->DisableSecurity();
         c.Done();
     }},
    {"SetMaximumIncomingConnections", "( unsigned short numberAllowed );", 1,
     [](const Call& c) {
         c.peer->SetMaximumIncomingConnections(c.U16(0));
         c.Done();
     }},
    {"GetMaximumIncomingConnections", "( void ) const;", 0,
     [](const Call& c) { c.Report(int32_t{c.peer->GetMaximumIncomingConnections()}); }},
    {"Connect",
     "( const char* host, unsigned short remotePort, char* passwordData, int passwordDataLength );", 4,
     [](const Call& c) { c.Report(c.peer->Connect(c.Text(0), c.U16(1), c.Text(2), c.LengthOf(2, 3))); }},
    {"Disconnect", "( unsigned int blockDuration, unsigned char orderingChannel=0 );", 2,
     [](const Call& c) {
         c.peer->Disconnect(c.UInt(0), c.U8(1));
         c.Done();
     }},
    {"IsActive", "( void ) const;", 0, [](const Call& c) { c.Report(c.peer->IsActive()); }},
    {"GetConnectionList", "() const;", 0, ListConnections},
    {"CloseConnection",
     "( const PlayerID target, bool sendDisconnectionNotification, unsigned char orderingChannel=0 );", 4,
     [](const Call& c) {
         c.peer->CloseConnection(c.Id(0), c.Bool(2), c.U8(3));
         c.Done();
     }},
    {"GetIndexFromPlayerID", "( const PlayerID playerId );", 2,
     [](const Call& c) { c.Report(c.peer->GetIndexFromPlayerID(c.Id(0))); }},
    {"GetPlayerIDFromIndex", "( int index );", 1,
     [](const Call& c) { c.Report(c.peer->GetPlayerIDFromIndex(c.Int(0))); }},
    {"AddToBanList", "( const char *IP, NetTime milliseconds=0 );", 2,
     [](const Call& c) {
         c.peer->AddToBanList(c.Text(0), c.UInt(1));
         c.Done();
     }},
    {"RemoveFromBanList", "( const char *IP );", 1,
     [](const Call& c) {
         c.peer->RemoveFromBanList(c.Text(0));
         c.Done();
     }},
    {"ClearBanList", "( void );", 0,
     [](const Call& c) {
         c.peer->ClearBanList();
         c.Done();
     }},
    {"IsBanned", "( const char *IP );", 1, [](const Call& c) { c.Report(c.peer->IsBanned(c.Text(0))); }},
    {"Ping1", "( const PlayerID target );", 2,
     [](const Call& c) {
         c.peer->Ping(c.Id(0));
         c.Done();
     }},
    {"Ping2", "( const char* host, unsigned short remotePort, bool onlyReplyOnAcceptingConnections );", 3,
     [](const Call& c) {
         c.peer->Ping(c.Text(0), c.U16(1), c.Bool(2));
         c.Done();
     }},
    {"GetAveragePing", "( const PlayerID playerId );", 2,
     [](const Call& c) { c.Report(c.peer->GetAveragePing(c.Id(0))); }},
    {"GetLastPing", "( const PlayerID playerId ) const;", 2,
     [](const Call& c) { c.Report(c.peer->GetLastPing(c.Id(0))); }},
    {"GetLowestPing", "( const PlayerID playerId ) const;", 2,
     [](const Call& c) { c.Report(c.peer->GetLowestPing(c.Id(0))); }},
    {"SetOccasionalPing", "( bool doPing );", 1,
     [](const Call& c) {
         c.peer->SetOccasionalPing(c.Bool(0));
         c.Done();
     }},
    {"SetOfflinePingResponse", "( const char *data, const unsigned int length );", 2,
     [](const Call& c) {
         c.peer->SetOfflinePingResponse(c.Bytes(0), static_cast<uint32_t>(c.LengthOf(0, 1)));
         c.Done();
     }},
    {"GetInternalID", "( void ) const;", 0, [](const Call& c) { c.Report(c.peer->GetInternalID()); }},
    {"GetExternalID", "( const PlayerID target ) const;", 2,
     [](const Call& c) { c.Report(c.peer->GetExternalID(c.Id(0))); }},
    {"SetTimeoutTime", "( NetTime timeMS, const PlayerID target );", 3,
     [](const Call& c) {
         c.peer->SetTimeoutTime(c.UInt(0), c.Id(1));
         c.Done();
     }},
    {"SetMTUSize", "( int size );", 1, [](const Call& c) { c.Report(c.peer->SetMTUSize(c.Int(0))); }},
    {"GetMTUSize", "( void ) const;", 0, [](const Call& c) { c.Report(c.peer->GetMTUSize()); }},
    {"GetNumberOfAddresses", "( void );", 0,
     [](const Call& c) { c.Report(static_cast<int32_t>(c.peer->GetNumberOfAddresses())); }},
    {"PlayerIDToDottedIP", "( const PlayerID playerId ) const;", 2,
     [](const Call& c) { c.Report(c.peer->PlayerIDToDottedIP(c.Id(0))); }},
    {"IPToPlayerID", "( const char* host, unsigned short remotePort );", 2, AddressFromText},
    {"GetLocalIP", "( unsigned int index );", 1,
     [](const Call& c) { c.Report(c.peer->GetLocalIP(c.UInt(0))); }},
    {"AllowConnectionResponseIPMigration", "( bool allow );", 1,
     [](const Call& c) {
         c.peer->AllowConnectionResponseIPMigration(c.Bool(0));
         c.Done();
     }},
    {"AdvertiseSystem", "( const char *host, unsigned short remotePort, const char *data, int dataLength );",
     4,
     [](const Call& c) {
         c.peer->AdvertiseSystem(c.Text(0), c.U16(1), c.Bytes(2), c.LengthOf(2, 3));
         c.Done();
     }},
    {"SetIncomingPassword", "( const char* passwordData, int passwordDataLength );", 2,
     [](const Call& c) {
         c.peer->SetIncomingPassword(c.Text(0), c.LengthOf(0, 1));
         c.Done();
     }},
    {"GetIncomingPassword", "( void );", 0, ShowPassword},
    {"ApplyNetworkSimulator",
     "( double maxSendBPS, unsigned short minExtraPing, unsigned short extraPingVariance);", 3,
     [](const Call& c) {
         c.peer->ApplyNetworkSimulator(c.Real(0), c.U16(1), c.U16(2));
         c.Done();
     }},
    {"IsNetworkSimulatorActive", "( void );", 0,
     [](const Call& c) { c.Report(c.peer->IsNetworkSimulatorActive()); }},
};

}  // namespace

int32_t CopyIncomingPassword(NetPeerInterface* peer, char* out) {
    constexpr int32_t kRoom = static_cast<int32_t>(kPasswordTextBytes - 1);
    int32_t length = kRoom;
    peer->GetIncomingPassword(out, &length);
    length = std::clamp(length, 0, kRoom);
    out[length] = '\0';
    return length;
}

NetCommandParser::NetCommandParser() {
    for (const Row& row : kRows) AddCommand(row.words, row.name, row.help);
}

void NetCommandParser::WriteHelp(TransportInterface* transport, PlayerID client) {
    if (peer_ == nullptr) {
        transport->Send(client, "Parser not active.  Call SetNetPeerInterface.\r\n");
        return;
    }
    transport->Send(client, "The Net parser provides mirror functions to NetPeer\r\n");
    transport->Send(client, "PlayerIDs take two parameters: send <BinaryAddress> <Port>.\r\n");
    transport->Send(client, "For bool, send 1 or 0.\r\n");
}

bool NetCommandParser::ExecuteCommand(const char* command, uint32_t parameterCount, char** parameters,
                                      TransportInterface* transport, PlayerID client, const char* lineCopy) {
    (void)lineCopy;
    if (peer_ == nullptr) return false;
    for (const Row& row : kRows) {
        if (std::strcmp(row.name, command) != 0) continue;
        // The console server checks word counts; a direct caller with too few words gets nothing.
        if (parameterCount < row.words) return true;
        row.run(Call{peer_, row.name, parameters, transport, client});
        return true;
    }
    return true;
}

}  // namespace velt
