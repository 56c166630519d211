#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <SharedLib/SharedLib.h>

#include "support/TempDirectory.h"

// Log files shared by processes (fork, file-size limits): POSIX only.
namespace {

struct LogFileTest : ::testing::Test {
    TempDirectory directory;
};

// A file-size limit stands for a full disk: lines are lost, and logging
// resumes in the same file once there is room again.
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
        ::setrlimit(RLIMIT_FSIZE, &original);
        logger.syslog(LogSev_Error, Log_Network, "resumed");
        ::_exit(7);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
    std::string content = ReadHostFile(directory.host() / "Full_00001.txt");
    EXPECT_EQ(FilesIn(directory.host()), std::vector<std::string>{"Full_00001.txt"});
    EXPECT_NE(content.find("ERROR Network: resumed\r\n"), std::string::npos);
    EXPECT_EQ(content.find("line 49"), std::string::npos);
}

TEST_F(LogFileTest, ProcessesStartingTogetherNeverShareANumber)
{
    constexpr int kProcesses = 6;
    for (int i = 0; i < kProcesses; ++i) {
        if (::fork() == 0) {
            Logger logger("Race", directory.windows().c_str());
            for (int line = 0; line < 20; ++line)
                logger.syslog(LogSev_Error, Log_Network, "process %d line %d", i, line);
            ::_exit(0);
        }
    }
    while (::wait(nullptr) > 0) {
    }
    auto names = FilesIn(directory.host());
    ASSERT_EQ(names.size(), static_cast<size_t>(kProcesses));
    for (auto const &name : names) {
        std::string content = ReadHostFile(directory.host() / name);
        EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 20) << name;
    }
}

}  // namespace
