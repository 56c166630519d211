#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <SharedLib/SharedLib.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/LogCapture.h"
#include "support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::SetEnvironmentVariableA("TZ", "UTC");
        platform::PinWallClock(1796525691);  // Sun Dec  6 02:54:51 2026
    }
    void TearDown() override { platform::ReleaseWallClock(); }

    std::unique_ptr<Logger> makeLogger(char const *prefix, char const *subdirectory = nullptr)
    {
        auto logger = std::make_unique<Logger>(
            prefix, (subdirectory != nullptr ? directory.windows(subdirectory) : directory.windows()).c_str());
        logger->setUseDialogs(false);
        return logger;
    }

    TempDirectory directory;
};

// The file line format: ctime's date and a blank unless the channel turned it
// off, the header, the text, CR LF. syslog, vsyslog and debuglog write to the
// file; screenlog never does.
TEST_F(LogFileTest, FileGoldenLines)
{
    auto logger = makeLogger("Zone", "logs");  // the logger's directory is made when missing
    logger->syslog(LogSev_Error, Log_Network, "lost %d", 3);
    logger->screenlog(LogSev_Error, Log_Network, "screen %d", 1);
    logger->debuglog(LogSev_Warning, Log_Network, "debug %s", "kept");
    VSyslog(*logger, LogSev_Fatal, Log_RPC, "v%d%s", 2, "x");
    logger->syslog(LogSev_Info, Log_Generic, "plain");
    logger->SetConditionalDateFlag(Log_Generic, false), logger->debuglog(LogSev_Info, Log_Generic, "no date");
    // Without the file in the mask no entry point reaches it.
    logger->setLogLocationMask(LogLocation_Console | LogLocation_DB | LogLocation_Debugger);
    logger->syslog(LogSev_Error, Log_Network, "console");
    VSyslog(*logger, LogSev_Error, Log_Network, "console");
    logger->debuglog(LogSev_Error, Log_Network, "db");
    logger->setLogLocationMask(LogLocation_File);
    logger->screenlog(LogSev_Error, Log_Network, "screen");
    std::string const longText(5000, 'l');
    logger->syslog(LogSev_Info, Log_Generic, "%s", longText.c_str());
    logger->SetConditionalDateFlag(Log_Generic, true), logger->syslog(LogSev_Info, Log_Generic, "%s", longText.c_str());
    EXPECT_EQ(logger->getFileName(), directory.windows("logs\\Zone_00001.txt"));
    // The whole line, its end included, stops at 4095 characters.
    EXPECT_EQ(ReadHostFile(directory.host() / "logs" / "Zone_00001.txt"),
              "Sun Dec  6 02:54:51 2026 ERROR Network: lost 3\r\n"
              "Sun Dec  6 02:54:51 2026 WARNING Network: debug kept\r\n"
              "Sun Dec  6 02:54:51 2026 ERROR RPC: v2x\r\n"
              "Sun Dec  6 02:54:51 2026 plain\r\n"
              "no date\r\n" +
                  longText.substr(0, 4094) + "\r\nSun Dec  6 02:54:51 2026 " + longText.substr(0, 4094 - 25) + "\r\n");
}

TEST_F(LogFileTest, NewFilesNumberOnFromTheHighestPresent)
{
    for (char const *name : {"Zone_00007.txt", "Zone_00002.txt", "Other_00050.txt", "Zone_1234_00001.txt"})
        std::ofstream(directory.host() / name) << "old\r\n";
    auto logger = makeLogger("Zone"), other = makeLogger("Big");
    logger->syslog(LogSev_Error, Log_Network, "x");
    std::ofstream(directory.host() / "Big_123456.txt") << "";
    other->syslog(LogSev_Error, Log_Network, "x");
    // Zone_1234_00001 counts as 1234: the number is read right after "Zone_".
    EXPECT_TRUE(fs::exists(directory.host() / "Zone_01235.txt") && fs::exists(directory.host() / "Big_123457.txt"));
}

TEST_F(LogFileTest, APrefixChangeMovesTheFileToTheNextNumber)
{
    auto logger = makeLogger("Zone");
    logger->syslog(LogSev_Error, Log_Network, "before");
    logger->setFilePrefix("Zone");  // the same prefix keeps the open file
    logger->syslog(LogSev_Error, Log_Network, "same");
    EXPECT_EQ(FilesIn(directory.host()), std::vector<std::string>{"Zone_00001.txt"});

    std::ofstream(directory.host() / "Dispatch_00004.txt") << "";
    logger->setFilePrefix("Dispatch");
    logger->syslog(LogSev_Error, Log_Network, "after");
    EXPECT_EQ(FilesIn(directory.host()), (std::vector<std::string>{"Dispatch_00004.txt", "Dispatch_00005.txt"}));
    EXPECT_EQ(logger->getFilePrefix(), "Dispatch");
    EXPECT_EQ(ReadHostFile(directory.host() / "Dispatch_00005.txt"),
              "Sun Dec  6 02:54:51 2026 ERROR Network: before\r\n"
              "Sun Dec  6 02:54:51 2026 ERROR Network: same\r\n"
              "Sun Dec  6 02:54:51 2026 ERROR Network: after\r\n");
}

TEST_F(LogFileTest, ChannelsKeyedToOneFileShareIt)
{
    auto logger = makeLogger("Zone");
    logger->setIncludePIDInName(true);
    logger->resetFilePrefix();
    logger->SetConditionalChannel(Log_Chat, "Chat");
    logger->SetConditionalChannel(Log_Chat_Messages, "Chat");
    logger->syslog(LogSev_Error, Log_Chat, "a");
    logger->syslog(LogSev_Error, Log_Chat_Messages, "b");
    logger->syslog(LogSev_Error, Log_Network, "c");
    std::string pid = std::to_string(platform::GetCurrentProcessId());
    EXPECT_EQ(FilesIn(directory.host()),
              (std::vector<std::string>{"Chat_Zone_" + pid + "_00001.txt", "Zone_" + pid + "_00001.txt"}));
    EXPECT_EQ(ReadHostFile(directory.host() / ("Chat_Zone_" + pid + "_00001.txt")),
              "Sun Dec  6 02:54:51 2026 ERROR Chat: a\r\nSun Dec  6 02:54:51 2026 ERROR Chat_Messages: b\r\n");
}

TEST_F(LogFileTest, FlushPolicies)
{
    auto logger = makeLogger("Zone");
    logger->SetConditional(Log_Network, LogSev_Detail);
    logger->setFlushOnWrite(false), logger->syslog(LogSev_Info, Log_Network, "buffered");
    fs::path file = directory.host() / "Zone_00001.txt";
    EXPECT_EQ(ReadHostFile(file), "");
    // An error line is flushed at once, and takes the buffered one with it.
    logger->syslog(LogSev_Error, Log_Network, "error");
    EXPECT_EQ(ReadHostFile(file).size(), 2 * 25 + std::string("Network: buffered\r\nERROR Network: error\r\n").size());
    // With the level flag off an error line is not flushed at once.
    logger->SetConditionalLevelFlag(Log_Network, false);
    logger->syslog(LogSev_Error, Log_Network, "untagged");
    EXPECT_EQ(ReadHostFile(file).find("untagged"), std::string::npos);
    logger->flush();
    EXPECT_NE(ReadHostFile(file).find("untagged"), std::string::npos);

    // Timed flushing: a line flushes once more than the interval has passed.
    logger->setSecondsBetweenFlushes(10), logger->setLastFlush(platform::GetWallClockSeconds());
    logger->syslog(LogSev_Info, Log_Network, "early");
    platform::PinWallClock(1796525691 + 10);
    logger->syslog(LogSev_Info, Log_Network, "edge");
    EXPECT_EQ(ReadHostFile(file).find("early"), std::string::npos);
    platform::PinWallClock(1796525691 + 11);
    logger->syslog(LogSev_Info, Log_Network, "late");
    EXPECT_TRUE(ReadHostFile(file).find("late") != std::string::npos && logger->getLastFlush() == 1796525691 + 11);
}

TEST_F(LogFileTest, AMissingParentDirectoryDropsLinesAndSaysSoOnce)
{
    Logger logger("Zone", directory.windows("no\\such\\dir").c_str());
    logger.setUseDialogs(false);
    logger.setOutputToDebugger(false);
    testing::internal::CaptureStderr();
    logger.syslog(LogSev_Error, Log_Network, "lost");
    logger.syslog(LogSev_Error, Log_Network, "lost again");
    // One line, whatever the system calls the missing directory (a file or
    // a path that cannot be found).
    std::string const said = testing::internal::GetCapturedStderr();
    std::string const start = "Log file " + directory.windows("no\\such\\dir\\Zone_00001.txt") +
                              " cannot be opened, its lines are dropped: The system cannot find the ";
    EXPECT_EQ(said.substr(0, start.size()), start) << said;
    EXPECT_EQ(said.substr(start.size()).find('\n'), said.size() - start.size() - 1) << said;
    EXPECT_EQ(logger.getFileName(), "");
}

TEST_F(LogFileTest, ThePipeOpensOnlyWhenAServerHoldsIt)
{
    platform::SetPipeDirectory(directory.host().string());
    auto logger = makeLogger("Zone");
    logger->setPipeName("\\\\.\\pipe\\ZoneLog");
    EXPECT_EQ(logger->getPipe(), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);  // why, for the host to report
    platform::NamedPipeServer server("\\\\.\\pipe\\ZoneLog");
    logger->setPipeName("\\\\.\\pipe\\ZoneLog");
    void *const first = logger->getPipe();
    EXPECT_NE(first, nullptr);

    // Naming another pipe leaves the host's handle of the first one open.
    logger->setPipeName("\\\\.\\pipe\\Nobody");
    EXPECT_EQ(logger->getPipe(), nullptr);
    uint32_t written = 0;
    EXPECT_TRUE(platform::WritePipe(first, "still open", 10, &written));
    std::string message;
    EXPECT_TRUE(server.ReadMessage(message, 1000) && message == "still open");
    platform::ClosePipe(first);
    platform::SetPipeDirectory("");
}

}  // namespace
