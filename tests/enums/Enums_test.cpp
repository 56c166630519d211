#include <SharedLib/enums/DBType.h>
#include <SharedLib/enums/Error.h>
#include <SharedLib/enums/Event.h>
#include <SharedLib/enums/Log.h>
#include <SharedLib/enums/Msg.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

static_assert(std::is_same_v<std::underlying_type_t<Error>, int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<DBType>, int32_t>);
static_assert(std::is_convertible_v<Log, int>, "channels are passed as plain int");

namespace {

// One enumeration seen through its arrays and its three look-ups.
struct Family {
    const char *label;
    const char **names;
    const char **descriptions;
    int32_t max;
    int32_t count;
    const char *(*toName)(int32_t);
    const char *(*toDescription)(int32_t);
    int32_t (*toValue)(const char *);
};

#define FAMILY(E, count)                                                             \
    Family{#E, g##E##_Names, g##E##_Description, E##_Max, count,                     \
           [](int32_t v) { return E##_ValueToName(static_cast<E>(v)); },             \
           [](int32_t v) { return E##_ValueToDescription(static_cast<E>(v)); },      \
           [](const char *s) { return static_cast<int32_t>(E##_NameToValue(s)); }}

const std::vector<Family> kFamilies = {FAMILY(Error, 592), FAMILY(Event, 47), FAMILY(Log, 195),
                                       FAMILY(Msg, 33), FAMILY(DBType, 13)};

bool IsIdentifier(const std::string &s) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto word = [&](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || digit(c) || c == '_';
    };
    return !s.empty() && !digit(s[0]) && std::all_of(s.begin(), s.end(), word);
}

std::string Flipped(std::string s) {
    for (char &c : s) {
        c = std::isupper(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c))
                                                        : static_cast<char>(std::toupper(c));
    }
    return s;
}

TEST(Enums, CountsAndEndEntries) {
    for (const Family &f : kFamilies) {
        SCOPED_TRACE(f.label);
        EXPECT_EQ(f.max, f.count);
        EXPECT_STREQ(f.names[f.max], "Max");
        EXPECT_STREQ(f.names[f.max + 1], "");
        EXPECT_STREQ(f.descriptions[f.max], "One higher than the last enum value");
        EXPECT_STREQ(f.descriptions[f.max + 1], "");
    }
}

TEST(Enums, ValuesOutsideTheRowsYieldError) {
    for (const Family &f : kFamilies) {
        SCOPED_TRACE(f.label);
        for (int32_t v : {-1, INT32_MIN, f.max, f.max + 1, INT32_MAX}) {
            EXPECT_STREQ(f.toName(v), "Error") << v;
            EXPECT_STREQ(f.toDescription(v), "Error") << v;
        }
        EXPECT_EQ(f.toName(f.max - 1), f.names[f.max - 1]);
        EXPECT_EQ(f.toDescription(0), f.descriptions[0]);
    }
}

TEST(Enums, RowsAreDistinctIdentifiersWithDistinctDescriptions) {
    for (const Family &f : kFamilies) {
        SCOPED_TRACE(f.label);
        std::set<std::string> descriptions;
        for (int32_t v = 0; v < f.max; ++v) {
            const std::string name = f.names[v];
            EXPECT_TRUE(IsIdentifier(name)) << name;
            // A later row equal ignoring case would be found at the earlier index.
            EXPECT_EQ(f.toValue(name.c_str()), v) << name;
            EXPECT_EQ(f.toValue(Flipped(name).c_str()), v) << name;
            EXPECT_STRNE(f.descriptions[v], "") << name;
            EXPECT_TRUE(descriptions.insert(f.descriptions[v]).second) << name;
        }
    }
}

TEST(Enums, UnmatchedNamesYieldMinusOne) {
    for (const Family &f : kFamilies) {
        SCOPED_TRACE(f.label);
        const std::string first = f.names[0];
        for (const std::string &s : {std::string("Max"), std::string("max"), std::string("Error"),
                                     std::string(""), std::string("0"), first + " ", " " + first,
                                     first.substr(0, first.size() - 1), first + "x"}) {
            EXPECT_EQ(f.toValue(s.c_str()), -1) << '"' << s << '"';
            EXPECT_STREQ(f.toName(f.toValue(s.c_str())), "Error");
        }
    }
    // Only letters fold: '_' and DEL differ by the case bit but are not a case pair.
    EXPECT_EQ(Log_NameToValue("SHAREDOBJECT\x7Fref"), -1);
    EXPECT_EQ(Log_NameToValue("SHAREDOBJECT_ref"), Log_SharedObject_Ref);
    EXPECT_EQ(Error_NameToValue(nullptr), -1);
}

TEST(Enums, ReplacedEntriesChangeTheLookups) {
    for (const Family &f : kFamilies) {
        SCOPED_TRACE(f.label);
        const char *oldName = f.names[1];
        const char *oldDescription = f.descriptions[1];
        f.names[1] = "Replaced_Row";
        f.descriptions[1] = "A replaced row";
        EXPECT_STREQ(f.toName(1), "Replaced_Row");
        EXPECT_STREQ(f.toDescription(1), "A replaced row");
        EXPECT_EQ(f.toValue("replaced_row"), 1);
        EXPECT_EQ(f.toValue(oldName), -1);
        f.names[1] = oldName;
        f.descriptions[1] = oldDescription;
        EXPECT_EQ(f.toValue(oldName), 1);
    }
}

// Values other programs keep on disk and on the wire, with their enumerators.
enum { kError, kEvent, kLog, kMsg, kDBType };  // indexes into kFamilies

struct Fixed {
    int family;
    int32_t enumerator;
    int32_t value;
    const char *name;
};

TEST(Enums, FixedValues) {
    const Fixed rows[] = {
        {kMsg, Msg_RpcTable, 0, "RpcTable"},
        {kMsg, Msg_RpcCallFunction, 1, "RpcCallFunction"},
        {kMsg, Msg_Event, 3, "Event"},
        {kMsg, Msg_UpdateServerStatus, 8, "UpdateServerStatus"},
        {kMsg, Msg_StartServerProcess, 24, "StartServerProcess"},
        {kMsg, Msg_RpcPrequelReliable, 26, "RpcPrequelReliable"},
        {kMsg, Msg_RpcDispatchNack, 30, "RpcDispatchNack"},
        {kMsg, Msg_UDPKeepAlive, 32, "UDPKeepAlive"},
        {kLog, Log_Generic, 0, "Generic"},
        {kLog, Log_Network, 1, "Network"},
        {kLog, Log_RPC, 2, "RPC"},
        {kLog, Log_ServerFrameRate, 19, "ServerFrameRate"},
        {kLog, Log_Connections, 168, "Connections"},
        {kLog, Log_MigrationCode, 194, "MigrationCode"},
        {kError, Error_Socket, 8, "Socket"},
        {kError, Error_ServerNotResponding, 9, "ServerNotResponding"},
        {kError, Error_RpcTable, 12, "RpcTable"},
        {kError, Error_ConnectErrorLost, 26, "ConnectErrorLost"},
        {kError, Error_ConnectErrorFailed, 27, "ConnectErrorFailed"},
        {kError, Error_ConnectErrorNoServer, 28, "ConnectErrorNoServer"},
        {kError, Error_ConnectWriteTimeout, 29, "ConnectWriteTimeout"},
        {kError, Error_ConnectWriteQueueLimit, 30, "ConnectWriteQueueLimit"},
        {kError, Error_AimBegin, 300, "AimBegin"},
        {kError, Error_AimHasTarget, 326, "AimHasTarget"},
        {kError, Error_AimEnd, 327, "AimEnd"},
        {kError, Error_BadClientTooManyMessages, 493, "BadClientTooManyMessages"},
        {kError, Error_BadClientPacketTooBig, 494, "BadClientPacketTooBig"},
        {kError, Error_BadClientPacketInvalid, 495, "BadClientPacketInvalid"},
        {kError, Error_BadClientRPCArgs, 496, "BadClientRPCArgs"},
        {kError, Error_UnknownFeature, 591, "UnknownFeature"},
        {kEvent, Event_AvatarDeath_NoEmote, 21, "AvatarDeath_NoEmote"},
        {kEvent, Event_EquipChange, 46, "EquipChange"},
        {kDBType, DBType_Bool, 12, "Bool"},
    };
    for (const Fixed &r : rows) {
        EXPECT_EQ(r.enumerator, r.value) << r.name;
        EXPECT_STREQ(kFamilies[r.family].toName(r.value), r.name);
    }
}

struct Text {
    int family;
    int32_t value;
    const char *description;
};

TEST(Enums, DescriptionsKeepTheirExactText) {
    const Text rows[] = {
        {kError, 0, "No error at all!"},
        {kError, 1, "Includes everything that doesn't get it's own code"},
        {kError, 8, "Something happened at a network layer"},
        {kError, 9, "We attempted to connect, but the connection was refused/timed out."},
        {kError, 12, "The Rpc Table didn't match"},
        {kError, 13, "The Shared Class table didn't match"},
        {kError, 20, "Could not find server directory"},
        {kError, 21, "Could not connect to ServerDir via TCP fallback"},
        {kError, 22, "Failure initializing UDP"},
        {kError, 23, "Failure initializing TCP"},
        {kError, 24, "Failure initializing RPC table"},
        {kError, 25, "Failure initializing class table"},
        {kError, 26, "Connection lost"},
        {kError, 27, "Connection failed"},
        {kError, 28, "Server is not online"},
        {kError, 29, "Connection writing was blocked for too long"},
        {kError, 30, "The write queue on a connection got too big"},
        {kError, 300, "Used for converting from orvEnums::AIM_ERROR to the appropriate error code.  "
                      "The order of these aim errors, and that enum must be the same."},
        {kError, 327, "Used for validating the conversion from orvEnums::AIM_ERROR to error value."},
        {kError, 493, "The client has sent too many messages in a given period"},
        {kError, 494, "The client sent a packet that was bigger than the packet size limit"},
        {kError, 495, "The client has sent a packet that was not understood"},
        {kError, 496, "The client sent RPC arguments that were clearly bogus, like an enum out of range."},
        {kLog, 0, "Includes everything that doesn't get it's own category"},
        {kLog, 1, "Network events"},
        {kLog, 2, "RPC Calls"},
        {kLog, 19, "Reports about slow server frames.  This is very specific so we can turn it on "
                   "and off at runtime."},
        {kLog, 168, "CConnections"},
        {kMsg, 2, "Used to test message sending without actually processing the messages.  "
                  "Conn servers will just bounce these back"},
        {kMsg, 10, "Send by the client to the server, asking for the server list.  This message has no body"},
        {kMsg, 28, "Sent instead of RpcCallFunction for object-routed rpcs going to and from the "
                   "dispatch server."},
        {kEvent, 1, "Lets the conneciton classes notify scripts when the conneciton failed"},
        {kEvent, 21, "an avatar has died.  Don't show the death emote."},
    };
    for (const Text &r : rows) {
        EXPECT_STREQ(kFamilies[r.family].toDescription(r.value), r.description) << r.value;
    }
    // Each DBType's description is its SQL column type.
    const char *const sql[] = {"char(32)", "Text", "INT(11)", "BIGINT(21)", "SMALLINT(6)",
                               "TINYINT(4)", "TINYINT(3) UNSIGNED", "SMALLINT(5) UNSIGNED",
                               "INT(10) UNSIGNED", "BIGINT(20) UNSIGNED", "FLOAT", "DOUBLE",
                               "TINYINT(1)"};
    static_assert(std::size(sql) == DBType_Max);
    for (int32_t v = 0; v < DBType_Max; ++v) {
        EXPECT_STREQ(DBType_ValueToDescription(static_cast<DBType>(v)), sql[v]);
    }
}

}  // namespace
