#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/log/Logger.h>

#include "support/TempDirectory.h"

// Log files under the conditions only POSIX processes set up here: a
// file-size limit standing for a full disk, and processes that start logging
// at the same moment.
namespace {

class LogFileTest : public ::testing::Test {
protected:
    TempDirectory directory;
};

TEST_F(LogFileTest, AFullDiskLosesLinesAndLoggingResumesAfterwards)
{
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit original{};
        ::getrlimit(RLIMIT_FSIZE, &original);
        rlimit limit{200, original.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Logger logger("Full", directory.windows().c_str());
        for (int i = 0; i < 50; ++i)
            logger.syslog(LogSev_Error, Log_Network, "line %d of a disk that fills", i);
        // Space again: logging goes on in the same file.
        ::setrlimit(RLIMIT_FSIZE, &original);
        logger.syslog(LogSev_Error, Log_Network, "resumed");
        ::_exit(7);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    std::string content = ReadHostFile(directory.host() / "Full_00001.txt");
    EXPECT_EQ(FilesIn(directory.host()), std::vector<std::string>{"Full_00001.txt"});
    EXPECT_NE(content.find("ERROR Network: resumed\r\n"), std::string::npos);
    EXPECT_EQ(content.find("line 49"), std::string::npos);
}

TEST_F(LogFileTest, ProcessesStartingTogetherNeverShareANumber)
{
    constexpr int kProcesses = 6;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Logger logger("Race", directory.windows().c_str());
            for (int line = 0; line < 20; ++line)
                logger.syslog(LogSev_Error, Log_Network, "process %d line %d", i, line);
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children)
        ::waitpid(child, nullptr, 0);
    auto names = FilesIn(directory.host());
    ASSERT_EQ(names.size(), static_cast<size_t>(kProcesses));
    for (auto const &name : names) {
        std::string content = ReadHostFile(directory.host() / name);
        EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 20) << name;
    }
}

}  // namespace
