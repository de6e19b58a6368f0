#include "net/ext/NetCommandParser.h"

namespace velt {

NetCommandParser::NetCommandParser() {
    // Word counts: a PlayerID takes two words (binary address, port).
    static constexpr CommandEntry kCommands[] = {
        {"Initialize",
         "( unsigned short maxConnections, unsigned short localPort, int _threadSleepTimer, const char "
         "*forceHostAddress );",
         4},
        {"InitializeSecurity", "();", 0},
        {"DisableSecurity", "( void );", 0},
        {"SetMaximumIncomingConnections", "( unsigned short numberAllowed );", 1},
        {"GetMaximumIncomingConnections", "( void ) const;", 0},
        {"Connect",
         "( const char* host, unsigned short remotePort, char* passwordData, int passwordDataLength );", 4},
        {"Disconnect", "( unsigned int blockDuration, unsigned char orderingChannel=0 );", 2},
        {"IsActive", "( void ) const;", 0},
        {"GetConnectionList", "() const;", 0},
        {"CloseConnection",
         "( const PlayerID target, bool sendDisconnectionNotification, unsigned char orderingChannel=0 );",
         4},
        {"GetIndexFromPlayerID", "( const PlayerID playerId );", 2},
        {"GetPlayerIDFromIndex", "( int index );", 1},
        {"AddToBanList", "( const char *IP, NetTime milliseconds=0 );", 2},
        {"RemoveFromBanList", "( const char *IP );", 1},
        {"ClearBanList", "( void );", 0},
        {"IsBanned", "( const char *IP );", 1},
        {"Ping1", "( const PlayerID target );", 2},
        {"Ping2", "( const char* host, unsigned short remotePort, bool onlyReplyOnAcceptingConnections );",
         3},
        {"GetAveragePing", "( const PlayerID playerId );", 2},
        {"GetLastPing", "( const PlayerID playerId ) const;", 2},
        {"GetLowestPing", "( const PlayerID playerId ) const;", 2},
        {"SetOccasionalPing", "( bool doPing );", 1},
        {"SetOfflinePingResponse", "( const char *data, const unsigned int length );", 2},
        {"GetInternalID", "( void ) const;", 0},
        {"GetExternalID", "( const PlayerID target ) const;", 2},
        {"SetTimeoutTime", "( NetTime timeMS, const PlayerID target );", 3},
        {"SetMTUSize", "( int size );", 1},
        {"GetMTUSize", "( void ) const;", 0},
        {"GetNumberOfAddresses", "( void );", 0},
        {"PlayerIDToDottedIP", "( const PlayerID playerId ) const;", 2},
        {"IPToPlayerID", "( const char* host, unsigned short remotePort );", 2},
        {"GetLocalIP", "( unsigned int index );", 1},
        {"AllowConnectionResponseIPMigration", "( bool allow );", 1},
        {"AdvertiseSystem",
         "( const char *host, unsigned short remotePort, const char *data, int dataLength );", 4},
        {"SetIncomingPassword", "( const char* passwordData, int passwordDataLength );", 2},
        {"GetIncomingPassword", "( void );", 0},
        {"ApplyNetworkSimulator",
         "( double maxSendBPS, unsigned short minExtraPing, unsigned short extraPingVariance);", 3},
        {"IsNetworkSimulatorActive", "( void );", 0},
    };
    for (const CommandEntry& c : kCommands) AddCommand(c.parameterCount, c.name, c.helpText);
}

}  // namespace velt
