#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/LogStatement.h>
#include <SharedLib/platform/Debugger.h>
#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/platform/Process.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"

namespace {

using LoggerTest = LogCaptureTest;

// Records which target saw a line, in call order, across all the targets.
std::vector<std::string> g_targets;
void dbTarget(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    g_targets.push_back(std::string("db:") + text);
}
void pipeTarget(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    g_targets.push_back(std::string("pipe:") + text);
}
void debuggerTarget(char const *text, void *)
{
    g_targets.push_back(std::string("debugger:") + text);
}
void consoleTarget(LogItemSeverityLevel, int, char const *text, int, char const *)
{
    g_targets.push_back(std::string("console:") + text);
}

TEST_F(LoggerTest, HeaderTextsForTheDefaultChannelSettings)
{
    logger().syslog(LogSev_Error, Log_Network, "lost %d of %s", 3, "peers");
    logger().syslog(LogSev_Warning, Log_Generic, "careful");
    logger().syslog(LogSev_Info, Log_Generic, "plain");
    logger().syslog(LogSev_Fatal, Log_RPC, "f");
    logger().syslog(LogSev_Assert, Log_Connections, "a");
    logger().syslog(LogSev_Warning, Log_ServerFrameRate, "slow");

    auto got = lines();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].text, "ERROR Network: lost 3 of peers");
    EXPECT_EQ(got[0].headerLength, 15);
    EXPECT_EQ(got[0].severity, LogSev_Error);
    EXPECT_EQ(got[0].channel, Log_Network);
    EXPECT_EQ(got[0].logFileName, "");
    EXPECT_EQ(got[1].text, "WARNING : careful");  // Generic shows no name
    EXPECT_EQ(got[1].headerLength, 10);
    EXPECT_EQ(got[2].text, "plain");
    EXPECT_EQ(got[2].headerLength, 0);
    EXPECT_EQ(got[3].text, "ERROR RPC: f");
    EXPECT_EQ(got[4].text, "ERROR Connections: a");
    EXPECT_EQ(got[5].text, "WARNING ServerFrameRate: slow");
}

TEST_F(LoggerTest, FlagsShapeTheHeader)
{
    logger().SetConditionalNameFlag(Log_Network, false);
    logger().syslog(LogSev_Error, Log_Network, "x");
    logger().SetConditionalLevelFlag(Log_Network, false);
    logger().syslog(LogSev_Error, Log_Network, "y");
    logger().SetConditionalNameFlag(Log_Network, true);
    logger().syslog(LogSev_Warning, Log_Network, "z");
    logger().SetConditionalLevelFlag(Log_Network, true);
    logger().SetConditional(Log_Network, LogSev_Detail);
    logger().syslog(LogSev_Info, Log_Network, "info lines never carry a tag");

    EXPECT_EQ(texts(), (std::vector<std::string>{"ERROR : x", "y", "Network: z",
                                                 "Network: info lines never carry a tag"}));
}

TEST_F(LoggerTest, ChannelLevelIsAThreshold)
{
    // A new logger: warnings pass on Network, info does not; Generic passes detail.
    EXPECT_TRUE(logger().CheckConditional(Log_Network, LogSev_Warning));
    EXPECT_FALSE(logger().CheckConditional(Log_Network, LogSev_Info));
    EXPECT_TRUE(logger().CheckConditional(Log_Generic, LogSev_Detail));
    logger().syslog(LogSev_Warning, Log_Network, "at the level");
    logger().syslog(LogSev_Info, Log_Network, "one more verbose");
    logger().syslog(LogSev_Detail, Log_Generic, "detail");
    logger().syslog(LogSev_None, Log_Generic, "severity 0 is never logged");

    logger().SetConditional(Log_RPC, LogSev_None);
    logger().syslog(LogSev_Fatal, Log_RPC, "silenced");
    logger().SetConditional(Log_Login, LogSev_Detail);
    logger().syslog(LogSev_Detail, Log_Login, "everything");

    EXPECT_EQ(texts(), (std::vector<std::string>{"WARNING Network: at the level", "detail", "Login: everything"}));
    EXPECT_EQ(logger().GetConditional(Log_RPC), LogSev_None);
}

TEST_F(LoggerTest, ChannelsOutsideTheTable)
{
    for (int channel : {-1, 195, 100000}) {
        logger().SetConditional(channel, LogSev_Detail);
        EXPECT_EQ(logger().GetConditional(channel), LogSev_Error);
        EXPECT_FALSE(logger().CheckConditional(channel, LogSev_Fatal));
        logger().syslog(LogSev_Warning, channel, "dropped");
        logger().syslog(LogSev_Error, channel, "unheaded %d", channel);
    }
    EXPECT_EQ(texts(), (std::vector<std::string>{"unheaded -1", "unheaded 195", "unheaded 100000"}));
    EXPECT_EQ(lines()[0].headerLength, 0);
}

TEST_F(LoggerTest, LongTextsAreCut)
{
    // Header and format together stop at 1023 characters.
    std::string format(2000, 'f');
    logger().syslog(LogSev_Error, Log_Network, "%s", (format.substr(0, 10)).c_str());
    logger().syslog(LogSev_Error, Log_Network, format.c_str(), 0);
    // The formatted text stops at 4095.
    std::string argument(5000, 'a');
    logger().syslog(LogSev_Error, Log_Network, "%s", argument.c_str());
    // A cut that would leave half a conversion does not.
    std::string percents = std::string(1023 - 15 - 1, 'p') + "%d";
    logger().syslog(LogSev_Error, Log_Network, percents.c_str(), 7);

    auto got = texts();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1].size(), 1023u);
    EXPECT_EQ(got[1], "ERROR Network: " + format.substr(0, 1023 - 15));
    EXPECT_EQ(got[2].size(), 4095u);
    EXPECT_EQ(got[3], "ERROR Network: " + std::string(1023 - 15 - 1, 'p'));
}

TEST_F(LoggerTest, TargetsRunInOrderAndFollowTheMask)
{
    g_targets.clear();
    platform::SetDebugOutputSink(debuggerTarget, nullptr);
    logger().setConsoleLogFunction(consoleTarget);
    logger().setDBLogFunction(dbTarget);
    logger().setPipeLogFunction(pipeTarget);

    logger().syslog(LogSev_Info, Log_Generic, "all");
    EXPECT_EQ(g_targets, (std::vector<std::string>{"debugger:all", "debugger:\n", "console:all", "db:all", "pipe:all"}));

    g_targets.clear();
    logger().screenlog(LogSev_Info, Log_Generic, "screen");
    logger().debuglog(LogSev_Info, Log_Generic, "debug");
    EXPECT_EQ(g_targets, (std::vector<std::string>{"debugger:screen", "debugger:\n", "console:screen",
                                                   "debugger:debug", "debugger:\n", "db:debug"}));

    g_targets.clear();
    logger().setOutputToDebugger(false);
    logger().setLogLocationMask(LogLocation_Debugger | LogLocation_Pipe);
    logger().syslog(LogSev_Info, Log_Generic, "pipe only");
    logger().setLogLocationMask(0);
    logger().syslog(LogSev_Info, Log_Generic, "nowhere");
    EXPECT_EQ(g_targets, (std::vector<std::string>{"pipe:pipe only"}));
    platform::SetDebugOutputSink(nullptr, nullptr);
}

TEST_F(LoggerTest, FatalAndAssertRaiseAnErrorBoxAfterTheTargets)
{
    logger().syslog(LogSev_Error, Log_Network, "no box");
    logger().syslog(LogSev_Fatal, Log_Network, "fatal %d", 1);
    logger().setLogLocationMask(0);
    logger().syslog(LogSev_Assert, Log_Generic, "mask 0 still shows the box");
    logger().setUseDialogs(false);
    logger().syslog(LogSev_Fatal, Log_Generic, "dialogs off");

    auto boxes = platform::TakeMessageBoxRecords();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "ERROR Network: fatal 1");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].type, 0x200010u);
    EXPECT_EQ(boxes[1].text, "ERROR : mask 0 still shows the box");
    EXPECT_EQ(texts(), (std::vector<std::string>{"ERROR Network: no box", "ERROR Network: fatal 1"}));
}

// A box whose owner logs from inside it: no lock may be held then.
int loggingBoxHook(char const *, char const *, uint32_t, void *)
{
    std::thread other([] { theLogger->syslog(LogSev_Error, Log_Network, "from another thread"); });
    other.join();
    return platform::IDOK;
}

TEST_F(LoggerTest, NoLockIsHeldWhileTheBoxIsUp)
{
    platform::SetMessageBoxHook(loggingBoxHook, nullptr);
    logger().syslog(LogSev_Fatal, Log_Network, "boom");
    platform::SetMessageBoxHook(nullptr, nullptr);
    EXPECT_EQ(texts(), (std::vector<std::string>{"ERROR Network: boom", "ERROR Network: from another thread"}));
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
    logger().setDBLogFunction(dbTarget);
    logger().syslog(LogSev_Error, Log_Network, "outer");
    logger().syslog(LogSev_Error, Log_Network, "again");
    EXPECT_EQ(g_targets, (std::vector<std::string>{"ERROR Network: outer", "db:ERROR Network: outer",
                                                   "ERROR Network: again", "db:ERROR Network: again"}));
}

TEST_F(LoggerTest, SquelchAndTheCallSiteGuard)
{
    int built = 0;
    auto argument = [&built] { return ++built; };
    SHAREDLIB_LOG(LogSev_Info, Log_Network, "filtered %d", argument());
    SHAREDLIB_LOG(LogSev_Warning, Log_Network, "written %d", argument());
    logger().setBSquelchLogger(true);
    SHAREDLIB_LOG(LogSev_Fatal, Log_Network, "squelched %d", argument());
    logger().syslog(LogSev_Fatal, Log_Network, "squelched too");
    logger().setBSquelchLogger(false);
    SHAREDLIB_DEBUGLOG(LogSev_Error, Log_Network, "debuglog never reaches the console %d", argument());
    EXPECT_EQ(built, 2);
    EXPECT_EQ(texts(), (std::vector<std::string>{"WARNING Network: written 1"}));

    Logger *saved = theLogger;
    theLogger = nullptr;
    SHAREDLIB_LOG(LogSev_Fatal, Log_Network, "no logger %d", argument());
    theLogger = saved;
    EXPECT_EQ(built, 2);
}

TEST_F(LoggerTest, ChannelsShareNamedFiles)
{
    logger().SetConditionalChannel(Log_Chat, "Chat");
    logger().SetConditionalChannel(Log_Chat_Messages, "Chat");
    logger().SetConditionalChannel(500, "Orphan");  // the file is added all the same
    logger().syslog(LogSev_Error, Log_Chat, "a");
    logger().syslog(LogSev_Error, Log_Chat_Messages, "b");
    logger().syslog(LogSev_Error, Log_Network, "c");
    auto got = lines();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].logFileName, "Chat");
    EXPECT_EQ(got[1].logFileName, "Chat");
    EXPECT_EQ(got[2].logFileName, "");
}

TEST(LoggerPrefix, ProcessIdentifierJoinsThePrefixOnReset)
{
    LogCapture capture("Zone");
    Logger &logger = capture.logger();
    logger.SetConditionalChannel(Log_Chat, "Chat");
    EXPECT_EQ(logger.getFilePrefix(), "Zone");
    logger.setIncludePIDInName(true);
    EXPECT_EQ(logger.getFilePrefix(), "Zone");  // nothing changes until the reset
    logger.resetFilePrefix();
    std::string pid = std::to_string(platform::GetCurrentProcessId());
    EXPECT_EQ(logger.getFilePrefix(), "Zone_" + pid);
    logger.setFilePrefix("Dispatch");
    EXPECT_EQ(logger.getFilePrefix(), "Dispatch_" + pid);
    EXPECT_EQ(logger.getLogDirName(), "");
    EXPECT_EQ(logger.getPipe(), nullptr);
}

TEST(LogSeverityNames, BothDirections)
{
    EXPECT_EQ(LogSevNameToLevel("WARNING"), LogSev_Warning);
    EXPECT_EQ(LogSevNameToLevel("Detail"), LogSev_Detail);
    EXPECT_EQ(LogSevNameToLevel("none"), LogSev_None);
    EXPECT_EQ(LogSevNameToLevel("fatal"), LogSev_Fatal);
    EXPECT_EQ(LogSevNameToLevel(""), -1);
    EXPECT_EQ(LogSevNameToLevel("warn"), -1);
    EXPECT_EQ(LogSevNameToLevel("errors"), -1);
    EXPECT_EQ(LogSevLevelToName(LogSev_None), "Error");
    EXPECT_EQ(LogSevLevelToName(LogSev_Assert), "Assert");
    EXPECT_EQ(LogSevLevelToName(static_cast<LogItemSeverityLevel>(42)), "Error");
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
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 500;
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

}  // namespace

namespace {

// The line formatter takes a fast path for plain conversions; every line
// must still read exactly as the C library formats it.
template <typename... Args>
std::string viaLibrary(char const *format, Args... args)
{
    char text[4096];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

TEST_F(LoggerTest, FormattedTextIsExactlyTheCLibrarys)
{
    char const *volatile nothing = nullptr;  // null, unknown to the compiler
    logger().syslog(LogSev_Info, Log_Generic, "%d %i %u %x %X %c %s %%", -2147483647 - 1, 42, 4294967295u, 0xBEEFu,
                    0xBEEFu, 'z', "text");
    logger().syslog(LogSev_Info, Log_Generic, "%s|%d", nothing, 0);
    logger().syslog(LogSev_Info, Log_Generic, "%5d|%-3s|%05.1f|%ld", 7, "a", 2.25, 9L);
    logger().syslog(LogSev_Info, Log_Generic, "plain text, no conversions");
    std::string wide(5000, 'w');
    logger().syslog(LogSev_Info, Log_Generic, "%s%d", wide.c_str(), 12345);
    auto got = texts();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], viaLibrary("%d %i %u %x %X %c %s %%", -2147483647 - 1, 42, 4294967295u, 0xBEEFu, 0xBEEFu, 'z',
                                 "text"));
    EXPECT_EQ(got[1], "(null)|0");
    EXPECT_EQ(got[2], viaLibrary("%5d|%-3s|%05.1f|%ld", 7, "a", 2.25, 9L));
    EXPECT_EQ(got[3], "plain text, no conversions");
    EXPECT_EQ(got[4], wide.substr(0, 4095));
}

}  // namespace
