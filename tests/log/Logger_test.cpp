#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <SharedLib/SharedLib.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"

namespace {

using LoggerTest = LogCaptureTest;
using Lines = std::vector<std::string>;

// Which target saw a line, in call order, across all the targets.
Lines g_targets;
template <char const *Tag>
void target(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    g_targets.push_back(Tag + std::string(text));
}
constexpr char kConsole[] = "console:", kDb[] = "db:", kPipe[] = "pipe:";
void debuggerTarget(char const *text, void *)
{
    g_targets.push_back(std::string("debugger:") + text);
}

// The console line format: tag, channel name and ": " as the channel's flags
// ask, then the text. Generic shows no name by default.
TEST_F(LoggerTest, HeaderGoldenLines)
{
    struct Row { LogItemSeverityLevel severity; int channel; bool name, level; char const *text; int headerLength; };
    Row const rows[] = {
        {LogSev_Error, Log_Network, true, true, "ERROR Network: lost 3 of peers", 15},
        {LogSev_Warning, Log_Generic, false, true, "WARNING : lost 3 of peers", 10},
        {LogSev_Info, Log_Generic, false, true, "lost 3 of peers", 0},
        {LogSev_Fatal, Log_RPC, true, true, "ERROR RPC: lost 3 of peers", 11},
        {LogSev_Assert, Log_Connections, true, true, "ERROR Connections: lost 3 of peers", 19},
        {LogSev_Warning, Log_ServerFrameRate, true, true, "WARNING ServerFrameRate: lost 3 of peers", 25},
        {LogSev_Info, Log_Network, true, true, "Network: lost 3 of peers", 9},
        {LogSev_Error, Log_Network, false, true, "ERROR : lost 3 of peers", 8},
        {LogSev_Error, Log_Network, false, false, "lost 3 of peers", 0},
        {LogSev_Warning, Log_Network, true, false, "Network: lost 3 of peers", 9},
    };
    for (Row const &row : rows) {
        clearLines();
        logger().SetConditional(row.channel, LogSev_Detail);
        logger().SetConditionalNameFlag(row.channel, row.name);
        logger().SetConditionalLevelFlag(row.channel, row.level);
        logger().syslog(row.severity, row.channel, "lost %d of %s", 3, "peers");
        auto got = lines();
        ASSERT_EQ(got.size(), 1u) << row.text;
        EXPECT_EQ(std::tie(got[0].text, got[0].headerLength, got[0].severity, got[0].channel, got[0].logFileName),
                  std::make_tuple(row.text, row.headerLength, row.severity, row.channel, std::string()));
    }
}

TEST_F(LoggerTest, ChannelLevelIsAThreshold)
{
    // A new logger: warnings pass on Network, info does not; Generic passes detail.
    EXPECT_TRUE(logger().CheckConditional(Log_Network, LogSev_Warning) &&
                logger().CheckConditional(Log_Generic, LogSev_Detail) &&
                !logger().CheckConditional(Log_Network, LogSev_Info));
    logger().syslog(LogSev_Warning, Log_Network, "at the level");
    logger().syslog(LogSev_Info, Log_Network, "one more verbose");
    logger().syslog(LogSev_Detail, Log_Generic, "detail");
    logger().syslog(LogSev_None, Log_Generic, "severity 0 is never logged");
    logger().SetConditional(Log_RPC, LogSev_None);
    logger().syslog(LogSev_Fatal, Log_RPC, "silenced");
    logger().SetConditional(Log_Login, LogSev_Detail);
    logger().syslog(LogSev_Detail, Log_Login, "everything");
    EXPECT_EQ(logger().GetConditional(Log_RPC), LogSev_None);

    // Outside the table: no record, so errors pass unheaded and nothing can be set.
    for (int channel : {-1, 195, 100000}) {
        logger().SetConditional(channel, LogSev_Detail);
        logger().SetConditionalNameFlag(channel, true);
        EXPECT_TRUE(logger().GetConditional(channel) == LogSev_Error &&
                    !logger().CheckConditional(channel, LogSev_Fatal));
        logger().syslog(LogSev_Warning, channel, "dropped");
        logger().syslog(LogSev_Error, channel, "unheaded %d", channel);
    }
    EXPECT_TRUE(logger().GetConditional(194) == LogSev_Warning && logger().CheckConditional(194, LogSev_Warning));
    EXPECT_EQ(texts(), (Lines{"WARNING Network: at the level", "detail", "Login: everything", "unheaded -1",
                              "unheaded 195", "unheaded 100000"}));
}

TEST_F(LoggerTest, EntryPointsReachTheTargetsOfTheirMasks)
{
    g_targets.clear(), platform::SetDebugOutputSink(debuggerTarget, nullptr);
    logger().setConsoleLogFunction(target<kConsole>);
    logger().setDBLogFunction(target<kDb>);
    logger().setPipeLogFunction(target<kPipe>);

    logger().syslog(LogSev_Info, Log_Generic, "all");
    VSyslog(logger(), LogSev_Info, Log_Generic, "v%d", 1);
    logger().screenlog(LogSev_Info, Log_Generic, "screen");
    logger().debuglog(LogSev_Info, Log_Generic, "debug");
    EXPECT_EQ(g_targets, (Lines{"debugger:all", "debugger:\n", "console:all", "db:all", "pipe:all", "debugger:v1",
                                "debugger:\n", "console:v1", "db:v1", "pipe:v1", "debugger:screen", "debugger:\n",
                                "console:screen", "debugger:debug", "debugger:\n", "db:debug"}));

    // Each entry point keeps to the mask, and the debugger to its switch.
    g_targets.clear();
    logger().setOutputToDebugger(false), logger().setLogLocationMask(LogLocation_Debugger | LogLocation_Pipe);
    logger().syslog(LogSev_Info, Log_Generic, "pipe only");
    VSyslog(logger(), LogSev_Info, Log_Generic, "v pipe only");
    logger().screenlog(LogSev_Info, Log_Generic, "nowhere");
    logger().debuglog(LogSev_Info, Log_Generic, "nowhere");
    logger().setOutputToDebugger(true), logger().setLogLocationMask(LogLocation_Console | LogLocation_DB);
    logger().screenlog(LogSev_Info, Log_Generic, "console only");
    logger().debuglog(LogSev_Info, Log_Generic, "db only");
    logger().setLogLocationMask(0);
    logger().syslog(LogSev_Info, Log_Generic, "nowhere");
    VSyslog(logger(), LogSev_Info, Log_Generic, "nowhere");
    // vsyslog filters as syslog does.
    logger().setLogLocationMask(-1);
    VSyslog(logger(), LogSev_Info, Log_Network, "filtered");
    logger().setBSquelchLogger(true);
    VSyslog(logger(), LogSev_Error, Log_Network, "squelched");
    EXPECT_EQ(g_targets, (Lines{"pipe:pipe only", "pipe:v pipe only", "console:console only", "db:db only"}));
    platform::SetDebugOutputSink(nullptr, nullptr);
}

// A box whose owner logs from inside it: no lock may be held then.
int loggingBoxHook(char const *, char const *, uint32_t, void *)
{
    std::thread other([] { theLogger->syslog(LogSev_Error, Log_Network, "from another thread"); });
    other.join();
    return platform::IDOK;
}

TEST_F(LoggerTest, FatalAndAssertRaiseAnErrorBoxAfterTheTargets)
{
    platform::SetMessageBoxHook(loggingBoxHook, nullptr);
    logger().syslog(LogSev_Fatal, Log_Network, "boom");
    platform::SetMessageBoxHook(nullptr, nullptr);
    EXPECT_EQ(texts(), (Lines{"ERROR Network: boom", "ERROR Network: from another thread"}));
    platform::TakeMessageBoxRecords(), clearLines();

    logger().syslog(LogSev_Error, Log_Network, "no box");
    logger().syslog(LogSev_Fatal, Log_Network, "fatal %d", 1);
    logger().setLogLocationMask(0);
    logger().syslog(LogSev_Assert, Log_Generic, "mask 0 still shows the box");
    logger().setUseDialogs(false);
    logger().syslog(LogSev_Fatal, Log_Generic, "dialogs off");

    Lines boxes;
    for (auto const &box : platform::TakeMessageBoxRecords())
        boxes.push_back(box.caption + "|" + std::to_string(box.type) + "|" + box.text);
    EXPECT_EQ(boxes, (Lines{"Error|2097168|ERROR Network: fatal 1", "Error|2097168|ERROR : mask 0 still shows the box"}));
    EXPECT_EQ(texts(), (Lines{"ERROR Network: no box", "ERROR Network: fatal 1"}));
}

void reentrantConsole(LogItemSeverityLevel severity, int channel, char const *text, int, char const *)
{
    g_targets.push_back(text);
    // Logging and changing settings from inside a callback: the line is
    // dropped, the setter works (the main lock is recursive).
    theLogger->syslog(severity, channel, "nested %s", text);
    theLogger->SetConditionalData(channel, 7);
}

TEST_F(LoggerTest, CallbackThatLogsProducesNoSecondLine)
{
    g_targets.clear();
    logger().setConsoleLogFunction(reentrantConsole);
    logger().setDBLogFunction(target<kDb>);
    logger().syslog(LogSev_Error, Log_Network, "outer");
    logger().syslog(LogSev_Error, Log_Network, "again");
    EXPECT_EQ(g_targets, (Lines{"ERROR Network: outer", "db:ERROR Network: outer", "ERROR Network: again",
                                "db:ERROR Network: again"}));
}

TEST_F(LoggerTest, SquelchAndTheCallSiteGuard)
{
    int built = 0;
    auto argument = [&built] { return ++built; };
    SHAREDLIB_LOG(LogSev_Info, Log_Network, "filtered %d", argument());
    SHAREDLIB_LOG(LogSev_Warning, Log_Network, "written %d", argument());
    logger().setBSquelchLogger(true);
    EXPECT_TRUE(logger().getBSquelchLogger());
    SHAREDLIB_LOG(LogSev_Fatal, Log_Network, "squelched %d", argument());
    logger().syslog(LogSev_Fatal, Log_Network, "squelched too");
    logger().setBSquelchLogger(false);
    SHAREDLIB_DEBUGLOG(LogSev_Error, Log_Network, "debuglog never reaches the console %d", argument());
    theLogger = nullptr;
    SHAREDLIB_LOG(LogSev_Fatal, Log_Network, "no logger %d", argument());
    theLogger = &logger();
    EXPECT_EQ(std::make_tuple(built, texts()), std::make_tuple(2, Lines{"WARNING Network: written 1"}));
}

TEST_F(LoggerTest, ChannelsShareNamedFilesAndThePrefix)
{
    logger().SetConditionalChannel(Log_Chat, "Chat");
    logger().SetConditionalChannel(Log_Chat_Messages, "Chat");
    logger().SetConditionalChannel(Log_Max, "Orphan");  // no such channel: the file is added all the same
    logger().SetConditionalChannel(Log_Login, "Orphan");
    logger().SetConditionalChannel(Log_Tree, "Fourth");
    logger().SetConditionalChannel(Log_Trading, "Fifth");  // past the room made at the start
    for (int channel : {Log_Chat, Log_Chat_Messages, Log_Network, Log_Login, Log_Tree, Log_Trading})
        logger().syslog(LogSev_Error, channel, "x");
    Lines files;
    for (auto const &line : lines())
        files.push_back(line.logFileName);
    EXPECT_EQ(files, (Lines{"Chat", "Chat", "", "Orphan", "Fourth", "Fifth"}));

    EXPECT_EQ(logger().getFilePrefix(), "Test");
    logger().setIncludePIDInName(true);
    EXPECT_EQ(logger().getFilePrefix(), "Test");  // nothing changes until the reset
    logger().resetFilePrefix();
    std::string pid = std::to_string(platform::GetCurrentProcessId());
    EXPECT_EQ(logger().getFilePrefix(), "Test_" + pid);
    logger().setFilePrefix("Dispatch");
    EXPECT_EQ(logger().getFilePrefix(), "Dispatch_" + pid);
    EXPECT_EQ(logger().getLogDirName() + (logger().getPipe() ? "pipe" : ""), "");
}

// A host may keep copies of channel records of its own kind.
struct HostRecord : ConditionalLog {
    explicit HostRecord(char const *prefix) : ConditionalLog(prefix, LogSev_Info, 0) {}
};

TEST(ConditionalLogRecord, CopiesCarryTheNameAndTheUserWord)
{
    HostRecord chat("Chat"), other("Other");
    chat.setUserData(7);
    HostRecord copy(chat);
    other = chat;
    for (ConditionalLog const *record : {&copy, &other})
        EXPECT_EQ(record->getPrefix() + "," + std::to_string(record->getUserData()), "Chat,7");
}

TEST(LogSeverityNames, BothDirections)
{
    std::pair<char const *, int> const names[] = {
        {"WARNING", LogSev_Warning}, {"Detail", LogSev_Detail}, {"none", LogSev_None}, {"fatal", LogSev_Fatal},
        {"aSSert", LogSev_Assert},   {"ERROR", LogSev_Error},   {"info", LogSev_Info}, {"", -1},
        {"warn", -1},                {"errors", -1},            {"in[o", -1},
    };
    for (auto const &[name, level] : names)
        EXPECT_EQ(LogSevNameToLevel(name), level) << name;
    Lines got;
    for (int level : {0, 1, 2, 3, 4, 5, 6, 42})
        got.push_back(LogSevLevelToName(static_cast<LogItemSeverityLevel>(level)));
    EXPECT_EQ(got, (Lines{"Error", "Fatal", "Assert", "Error", "Warning", "Info", "Detail", "Error"}));
}

// Eight threads log at once while a callback logs from inside the pipeline
// and a ninth thread changes levels: every line arrives whole, none twice.
std::atomic<int> g_concurrentLines{0};
void countingConsole(LogItemSeverityLevel severity, int channel, char const *text, int, char const *)
{
    if (std::string(text).rfind("ERROR Network: worker ", 0) == 0)
        g_concurrentLines.fetch_add(1, std::memory_order_relaxed);
    theLogger->syslog(severity, channel, "nested");
}

TEST_F(LoggerTest, ManyThreadsLogAtOnce)
{
    g_concurrentLines = 0;
    logger().setConsoleLogFunction(countingConsole);
    constexpr int kThreads = 8, kLinesEach = 500;
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        while (!stop.load()) {
            logger().SetConditional(Log_RPC, LogSev_Detail);
            logger().SetConditional(Log_RPC, LogSev_Warning);
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) {
                SHAREDLIB_LOG(LogSev_Error, Log_Network, "worker %d line %d", t, i);
                SHAREDLIB_LOG(LogSev_Info, Log_RPC, "maybe %d", i);
            }
        });
    for (auto &worker : workers)
        worker.join();
    stop = true;
    toggler.join();
    EXPECT_EQ(g_concurrentLines.load(), kThreads * kLinesEach);
}

// The line formatter takes a fast path for plain conversions; every line
// must still read exactly as the C library formats it, and long texts are cut.
TEST_F(LoggerTest, FormattedTextIsExactlyTheCLibrarysAndLongTextsAreCut)
{
    char const *volatile nothing = nullptr;  // null, unknown to the compiler
    logger().syslog(LogSev_Info, Log_Generic, "%d %i %u %x %X %c %s %%", -2147483647 - 1, 42, 4294967295u, 0xBEEFu,
                    0xBEEFu, 'z', "text");
    logger().syslog(LogSev_Info, Log_Generic, "%s|%d|%x|%d", nothing, 0, 0u, -7);
    logger().syslog(LogSev_Info, Log_Generic, "%5d|%-3s|%05.1f|%ld", 7, "a", 2.3, 9L);
    logger().syslog(LogSev_Info, Log_Generic, "plain text, no conversions");
    std::string wide(5000, 'w');
    logger().syslog(LogSev_Info, Log_Generic, "%s%d", wide.c_str(), 12345);
    logger().syslog(LogSev_Info, Log_Generic, "%s%c%c", std::string(4093, 'n').c_str(), 'y', 'z');
    EXPECT_EQ(texts(), (Lines{"-2147483648 42 4294967295 beef BEEF z text %", "(null)|0|0|-7", "    7|a  |002.3|9",
                              "plain text, no conversions", wide.substr(0, 4095), std::string(4093, 'n') + "yz"}));

    clearLines();
    // Header and format together stop at 1023 characters.
    std::string format(2000, 'f'), other(2000, 'g');
    logger().syslog(LogSev_Info, Log_Generic, other.c_str(), 0);
    logger().syslog(LogSev_Error, Log_Network, format.c_str(), 0);
    // The formatted text stops at 4095.
    std::string argument(5000, 'a');
    logger().syslog(LogSev_Error, Log_Network, "%s", argument.c_str());
    // A cut that would leave half a conversion does not; a whole "%%" stays.
    std::string percents = std::string(1023 - 15 - 1, 'p') + "%d";
    logger().syslog(LogSev_Error, Log_Network, percents.c_str(), 7);
    std::string escaped = std::string(1023 - 15 - 2, 'q') + "%%%d";
    logger().syslog(LogSev_Error, Log_Network, escaped.c_str(), 7);

    EXPECT_EQ(texts(), (Lines{other.substr(0, 1023), "ERROR Network: " + format.substr(0, 1023 - 15),
                          "ERROR Network: " + argument.substr(0, 4095 - 15),
                          "ERROR Network: " + std::string(1023 - 15 - 1, 'p'),
                          "ERROR Network: " + std::string(1023 - 15 - 2, 'q') + "%"}));
}

}  // namespace
