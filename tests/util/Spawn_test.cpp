#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <SharedLib/enums/Log.h>
#include <SharedLib/platform/ChildProcess.h>
#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/progress/Progress.h>
#include <SharedLib/util/Perforce.h>
#include <SharedLib/util/Spawn.h>

#include "support/LogCapture.h"
#include "support/TempDirectory.h"

namespace {

using Strings = std::vector<std::string>;

class RecordingWindow : public CProgressWindow {
public:
    // Moves the working directory when moveTo is set, as a window may.
    void start() override
    {
        ++starts;
        if (!moveTo.empty())
            platform::SetWorkingDirectory(moveTo.c_str());
    }
    void refresh() override {}
    void setStatus(char const *) override {}
    void setValue(float fraction) override { values.push_back(fraction); }
    void setOverrun(bool value) override { overruns += (overrun = value); }
    bool isOverrun() override { return overrun; }
    void pulse() override { ++pulses; }
    void finish() override { ++finishes; }

    std::vector<float> values;
    std::string moveTo;
    bool overrun = false;
    int starts = 0, finishes = 0, pulses = 0, overruns = 0;
};

class SpawnTest : public LogCaptureTest {
protected:
    void SetUp() override
    {
        LogCaptureTest::SetUp();
        // The spawning functions log through debuglog, which reaches the DB target.
        logger().setLogLocationMask(LogLocation_DB | LogLocation_Console);
        CProgressWindow::g_pWindow = &window;
    }
    void TearDown() override
    {
        CProgressWindow::g_pWindow = nullptr;
        platform::ResetDriveMap();
        LogCaptureTest::TearDown();
    }

    // The logged texts after the line header.
    Strings logged() const
    {
        Strings result;
        for (auto const &line : dbLines())
            result.push_back(line.text.substr(static_cast<size_t>(line.headerLength)));
        return result;
    }

    static int32_t spawn(char const *program, std::string commandLine)
    {
        return spawnWithLoggedOutput(program, commandLine.data());
    }

    RecordingWindow window;
};

TEST_F(SpawnTest, QuietChildGivesItsExitCodeAndOnlyTheCommandLine)
{
    std::string before, after;
    ASSERT_TRUE(platform::GetWorkingDirectory(before));
    TempDirectory elsewhere;
    window.moveTo = elsewhere.windows();  // the spawn puts the working directory back
    EXPECT_EQ(spawn("/bin/sh", "sh -c \"exit 3\""), 3);
    EXPECT_TRUE(platform::GetWorkingDirectory(after) && after == before);
    EXPECT_EQ(logged(), Strings{"sh -c \"exit 3\""});
    EXPECT_EQ(std::tuple(dbLines().at(0).severity, dbLines().at(0).channel, window.starts, window.finishes),
              std::tuple(LogSev_Info, int(Log_Generic), 1, 1));
}

TEST_F(SpawnTest, MegabytesOfOutputAreLoggedCompletelyInChunksOfAtMostAThousandBytes)
{
    constexpr size_t kBytes = 4 * 1000 * 1000;
    EXPECT_EQ(spawn("/bin/sh", "sh -c \"yes 0123456789abcdefghi | head -c " + std::to_string(kBytes) +
                                   "; echo tail >&2\""),
              0);
    Strings const lines = logged();
    std::string joined, expected;
    for (size_t i = 1; i < lines.size(); ++i) {
        ASSERT_LE(lines[i].size(), 1000u);
        joined += lines[i];
    }
    while (expected.size() < kBytes)
        expected += "0123456789abcdefghi\n";
    expected.resize(kBytes);
    EXPECT_EQ(joined, expected + "tail\n");
    EXPECT_GE(lines.size(), kBytes / 1000 + 2);
}

TEST_F(SpawnTest, ProgressMovesByTenthsThenOverrunsAndPulses)
{
    EXPECT_EQ(spawn("/bin/sh", "sh -c \"sleep 1.8\""), 0);
    // 0 at creation, then the start of each step: 0, 0.1, 0.2, ...
    ASSERT_TRUE(window.values.size() >= 4u && window.values.size() <= 12u) << window.values.size();
    EXPECT_EQ(std::vector<float>(window.values.begin(), window.values.begin() + 4),
              (std::vector<float>{0.0f, 0.0f, 0.1f, 0.2f}));
    EXPECT_EQ(std::tuple(logged().size(), window.overruns, window.finishes, window.pulses >= 1),
              std::tuple(size_t{1}, 1, 1, true));
}

TEST_F(SpawnTest, ProgramThatCannotStartGivesMinusOne)
{
    std::string before, after;
    ASSERT_TRUE(platform::GetWorkingDirectory(before));
    EXPECT_EQ(spawn("z:\\nonexistent\\tool.exe", "tool -x"), -1);
    EXPECT_EQ(logged(), (Strings{"tool -x", "spawnWithLoggedOutput: Failed to execute \"z:\\nonexistent\\tool.exe\" "
                                            "with command line \"tool -x\"."}));
    EXPECT_EQ(dbLines().back().severity, LogSev_Error);
    EXPECT_TRUE(window.starts == 0 && window.values.empty());  // no progress was created
    EXPECT_TRUE(platform::GetWorkingDirectory(after) && after == before);
}

TEST_F(SpawnTest, PartsAreJoinedEachWithASpaceWithinTheLineLimit)
{
    EXPECT_EQ(spawnWithLoggedOutputV("/bin/echo", "echo", "edit", "\"a  b.txt\"", static_cast<char const *>(nullptr)),
              0);
    EXPECT_EQ(logged(), (Strings{"echo edit \"a  b.txt\" ", "edit a  b.txt\n"}));

    clearLines();
    std::string const huge(40000, 'a');
    EXPECT_EQ(spawnWithLoggedOutputV("/bin/echo", "echo", huge.c_str(), static_cast<char const *>(nullptr)), -1);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(std::pair(logged(), window.starts),  // only the first call ran a child
              std::pair(Strings{"spawnWithLoggedOutputV: The command line for \"/bin/echo\" is too long."}, 1));
}

TEST_F(SpawnTest, ProgramIsFoundThroughTheDriveMapOrTheWorkingDirectoryNotThePath)
{
    TempDirectory dir;
    for (auto [name, body] : {std::pair{"Tool.sh", "echo \"args:$1|$2\"\nexit 4"}, {"tool", "exit 6"}}) {
        std::ofstream(dir.host() / name) << "#!/bin/sh\n" << body << "\n";
        ::chmod((dir.host() / name).c_str(), 0755);
    }
    platform::MapDrive('q', dir.host().string());
    EXPECT_EQ(spawn("Q:\\TOOL.SH", "tool \"one two\" three"), 4);
    EXPECT_EQ(logged(), (Strings{"tool \"one two\" three", "args:one two|three\n"}));

    std::filesystem::path const previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.host());
    EXPECT_EQ(std::pair(spawn("tool", "tool"), spawn("sh", "sh -c \"exit 0\"")), std::pair(6, -1));
    std::filesystem::current_path(previous);
}

class PerforceTest : public SpawnTest {
protected:
    void SetUp() override
    {
        SpawnTest::SetUp();
        char const *path = std::getenv("PATH");
        m_path = path != nullptr ? path : "";
        ::setenv("PATH", (dir.host().string() + ":" + m_path).c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("PATH", m_path.c_str(), 1);
        SpawnTest::TearDown();
    }

    // A stand-in client first on the PATH that reports its arguments and
    // exits with the code.
    void placeClient(int exitCode)
    {
        std::filesystem::path const file = dir.host() / "p4";
        std::ofstream(file) << "#!/bin/sh\nprintf '%s\\n' \"client $*\"\nexit " << exitCode << "\n";
        ::chmod(file.c_str(), 0755);
    }

    TempDirectory dir;
    std::string m_path;
};

TEST_F(PerforceTest, ClientOnThePathRunsEachCommandOnce)
{
    // The command line as logged, and as the client gets it.
    struct Case { int exitCode; void (*call)(); char const *logged, *arguments; };
    Case const cases[] = {
        {0, [] { EXPECT_TRUE(PerforceCheckoutFile("data\\a b.txt")); }, "edit \"data\\a b.txt\"", "edit data\\a b.txt"},
        {0, [] { PerforceAddFileNoQuotes("-t text a b"); }, "add -t text a b", "add -t text a b"},
        {2, [] { EXPECT_FALSE(PerforceCheckoutFile("x.txt")); }, "edit \"x.txt\"", "edit x.txt"},
        {1, [] { PerforceRevertFile("x.txt"); }, "revert \"x.txt\"", "revert x.txt"},
        {1, [] { PerforceDeleteFile("y.txt"); }, "delete \"y.txt\"", "delete y.txt"},
        {1, [] { PerforceAddFile("z.txt"); }, "add \"z.txt\"", "add z.txt"},
        {1, [] { PerforceAddFileNoQuotes("-t a.txt"); }, "add -t a.txt", "add -t a.txt"},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.logged);
        placeClient(c.exitCode);
        clearLines();
        c.call();
        Strings expected{"p4 " + std::string(c.logged) + " ", "client " + std::string(c.arguments) + "\n"};
        Strings lines = logged();
        if (c.exitCode != 0) {
            // The error line is checked by its beginning; the rest is the system's text.
            expected.push_back("Failed to run 'p4 " + std::string(c.arguments) + "': ");
            ASSERT_EQ(lines.size(), 3u);
            EXPECT_EQ(lines.back().rfind(expected.back(), 0), 0u) << lines.back();
            EXPECT_EQ(dbLines().back().severity, LogSev_Error);
            lines.back() = expected.back();
        }
        EXPECT_EQ(lines, expected);
    }
}

TEST_F(PerforceTest, MissingClientOrOverlongNameIsRefusedWithoutRunning)
{
    ::setenv("PATH", dir.host().c_str(), 1);  // no p4 on it
    EXPECT_FALSE(PerforceCheckoutFile("x.txt"));
    EXPECT_EQ(logged(), Strings{"Failed to run 'p4 edit x.txt': No such file or directory"});

    placeClient(0);
    clearLines();
    EXPECT_FALSE(PerforceCheckoutFile(std::string(2046, 'n').c_str()));
    EXPECT_EQ(logged(), Strings{"Failed to run 'p4 edit " + std::string(2046, 'n') + "': File name too long"});
    EXPECT_EQ(window.starts, 0);
    EXPECT_TRUE(PerforceCheckoutFile(std::string(2045, 'n').c_str()));
}

}  // namespace
