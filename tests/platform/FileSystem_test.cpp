#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <SharedLib/platform/Clock.h>
#include <SharedLib/platform/Debugger.h>
#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileStream.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/LastError.h>
#include <SharedLib/platform/Lock.h>
#include <SharedLib/platform/MemoryMapping.h>
#include <SharedLib/platform/MessageBox.h>
#include <SharedLib/platform/NamedPipe.h>
#include <SharedLib/platform/Process.h>
#include <SharedLib/platform/System.h>
#include <SharedLib/testing/TestSeams.h>

#include "support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

// The code a call that returned -1 left behind; 0 when it succeeded.
uint32_t failure(int result) { return result == -1 ? platform::GetLastError() : 0; }

TEST(DriveMap, WindowsPathsReachHostFilesWhateverTheirCase)
{
    TempDirectory temp;
    fs::create_directories(temp.host() / "Game" / "Data");
    std::string lowered = temp.windows() + "\\game\\data\\New.txt";
    EXPECT_EQ(platform::HostPath(lowered.c_str()), (temp.host() / "Game" / "Data" / "New.txt").string());
    // Forward slashes and a trailing separator survive.
    std::string mixed = temp.windows() + "/GAME\\data\\";
    EXPECT_EQ(platform::HostPath(mixed.c_str()), (temp.host() / "Game" / "Data").string() + "/");
    // Looking up names without regard to case leaves no directory open.
    auto const openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    auto const before = openFiles();
    for (int i = 0; i < 200; ++i)
        platform::HostPath(lowered.c_str());
    EXPECT_LT(openFiles() - before, 50);
    EXPECT_EQ(platform::HostPath("relative\\name") + "|" + platform::HostPath("\\\\server\\share\\x") +
                  platform::HostPath("q:\\unmapped") + platform::HostPath(""),
              "relative/name|");
}

TEST(DriveMap, MappedDrivesAndTheWindowsView)
{
    TempDirectory temp;
    EXPECT_EQ(platform::WindowsPath("/srv/game"), "z:\\srv\\game");
    EXPECT_EQ(platform::WindowsPath("/"), "z:\\");
    platform::MapDrive('A', temp.host().string() + "/");
    EXPECT_EQ(platform::HostPath("a:\\logs\\a.txt"), temp.host().string() + "/logs/a.txt");
    EXPECT_EQ(platform::WindowsPath(temp.host().string() + "/logs"), "a:\\logs");
    EXPECT_EQ(platform::WindowsPath(temp.host().string()), "a:\\");
    // A sibling whose name merely starts the same is not inside the drive.
    EXPECT_EQ(platform::WindowsPath(temp.host().string() + "x/y"), platform::WindowsPath("/") +
                                                                         temp.windows().substr(3) + "x\\y");
    platform::ResetDriveMap();
    EXPECT_EQ(platform::HostPath("a:\\logs"), "");
}

TEST(FileSystem, CreateExclusiveRenameAndAccessBehaveAsOnWindows)
{
    TempDirectory temp;
    std::string name = temp.windows("Zone_00001.txt");
    int flags = platform::O_WRONLY_ | platform::O_CREAT_ | platform::O_EXCL_ | platform::O_APPEND_;
    int first = platform::OpenFile(name.c_str(), flags, platform::S_IWRITE_);
    ASSERT_GE(first, 0);
    EXPECT_EQ(failure(platform::OpenFile(name.c_str(), flags, platform::S_IWRITE_)), platform::ERROR_FILE_EXISTS);
    platform::CloseFile(first);

    std::string other = temp.windows("Zone_00002.txt");
    std::ofstream(temp.host() / "Zone_00002.txt") << "x";
    platform::CloseFile(platform::OpenFile(other.c_str(), platform::O_WRONLY_ | platform::O_TRUNC_, 0));
    EXPECT_EQ(fs::file_size(temp.host() / "Zone_00002.txt"), 0u);
    // A rename never replaces.
    EXPECT_EQ(failure(platform::RenamePath(name.c_str(), other.c_str())), platform::ERROR_FILE_EXISTS);
    std::string third = temp.windows("zone_00003.TXT");
    EXPECT_EQ(platform::RenamePath(name.c_str(), third.c_str()), 0);
    EXPECT_EQ(platform::RemoveFile(third.c_str()), 0);  // there under its new name
    EXPECT_EQ(failure(platform::RemoveFile(third.c_str())), platform::ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(failure(platform::AccessPath(temp.windows("missing").c_str(), platform::ACCESS_EXISTS)),
              platform::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(platform::MakeDirectory(temp.windows("a\\b").c_str()), -1);  // only the last component
    EXPECT_EQ(platform::MakeDirectory(temp.windows("a").c_str()), 0);
    EXPECT_EQ(platform::AccessPath(temp.windows("A").c_str(), platform::ACCESS_WRITE), 0);

    // A drive that maps nowhere is a missing path for every call.
    EXPECT_EQ(platform::OpenFile("q:\\x", flags, platform::S_IWRITE_) + platform::RenamePath("q:\\x", third.c_str()) +
                  platform::AccessPath("q:\\x", platform::ACCESS_EXISTS) + platform::MakeDirectory("q:\\x") +
                  platform::RemoveFile("q:\\x"),
              -5);
}

TEST(FileSystem, FindFilesMatchesWildcardsWithoutRegardToCase)
{
    TempDirectory temp;
    for (char const *name : {"Zone_00001.txt", "zone_00002.TXT", "Zone_1234_00001.txt", "Zonex.txt", "Other.txt"})
        std::ofstream(temp.host() / name) << "";
    auto found = platform::FindFiles(temp.windows("ZONE_*.txt").c_str());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"Zone_00001.txt", "Zone_1234_00001.txt", "zone_00002.TXT"}));
    EXPECT_EQ(platform::FindFiles(temp.windows("Zone?.txt").c_str()), std::vector<std::string>{"Zonex.txt"});
    EXPECT_TRUE(platform::FindFiles(temp.windows("nothing\\*.txt").c_str()).empty());
}

TEST(FileSystem, TextStreamsWriteCarriageReturnLineFeed)
{
    TempDirectory temp;
    for (auto [mode, expected] :
         {std::pair{platform::O_TEXT_, "one\r\ntwo\r\r\n\r\n"}, {platform::O_BINARY_, "one\ntwo\r\n\n"}}) {
        std::string const name = temp.windows(std::to_string(mode).c_str());
        int const flags = platform::O_WRONLY_ | platform::O_CREAT_ | platform::O_APPEND_ | mode;
        auto *stream = platform::FileStream::Attach(platform::OpenFile(name.c_str(), flags, platform::S_IWRITE_), "a");
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(stream->Write("one\ntwo\r\n\n"));
        delete stream;
        EXPECT_EQ(ReadHostFile(temp.host() / std::to_string(mode)), expected);
    }
}

TEST(FileSystem, WorkingDirectoryInTheWindowsView)
{
    TempDirectory temp;
    fs::create_directories(temp.host() / "Srv" / "Game");
    std::string before;
    ASSERT_TRUE(platform::GetWorkingDirectory(before));
    std::string lowered = temp.windows() + "\\srv\\game";
    ASSERT_TRUE(platform::SetWorkingDirectory(lowered.c_str()));
    std::string now;
    ASSERT_TRUE(platform::GetWorkingDirectory(now));
    EXPECT_EQ(now, temp.windows() + "\\Srv\\Game");
    EXPECT_TRUE(platform::SetWorkingDirectory(before.c_str()));
    EXPECT_FALSE(platform::SetWorkingDirectory(temp.windows("missing").c_str()));

    std::string executable;
    ASSERT_TRUE(platform::GetExecutablePath(executable));
    EXPECT_EQ(executable.substr(0, 3), "z:\\");
    platform::SetDocumentsFolder("z:\\home\\player\\Documents");
    std::string documents;
    EXPECT_TRUE(platform::GetDocumentsFolder(documents) && documents == "z:\\home\\player\\Documents") << documents;
    platform::SetDocumentsFolder("");
}

TEST(DocumentsFolder, TheXdgFolderOnlyWhenItExists)
{
    TempDirectory temp;
    std::string const home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    platform::SetEnvironmentVariableA("HOME", (temp.host().string() + "/").c_str());  // the slash is not doubled
    platform::SetEnvironmentVariableA("XDG_DOCUMENTS_DIR", nullptr);
    platform::SetEnvironmentVariableA("XDG_CONFIG_HOME", nullptr);
    auto lookUp = [] {
        std::string documents;
        return platform::GetDocumentsFolder(documents) ? documents : std::string("(none)");
    };
    auto userDirs = [&](char const *line) {
        fs::create_directories(temp.host() / ".config");
        // The last line, not quoted, is passed over.
        std::ofstream(temp.host() / ".config" / "user-dirs.dirs")
            << "# written by hand\n" << line << "\nXDG_DOCUMENTS_DIR= /tmp\"\n";
    };
    EXPECT_EQ(lookUp(), "(none)");  // a server account without ~/Documents
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_PATH_NOT_FOUND);
    fs::create_directory(temp.host() / "Documents");
    EXPECT_EQ(lookUp(), temp.windows("Documents"));

    userDirs("XDG_DOCUMENTS_DIR=\"$HOME/Papers\"");
    EXPECT_EQ(lookUp(), "(none)");  // named there, but absent
    fs::create_directory(temp.host() / "Papers");
    EXPECT_EQ(lookUp(), temp.windows("Papers"));
    userDirs("XDG_DOCUMENTS_DIR=\"$HOME/\"");  // the user has switched the folder off
    EXPECT_EQ(lookUp(), "(none)");

    std::string const named = (temp.host() / "Named").string();
    platform::SetEnvironmentVariableA("XDG_DOCUMENTS_DIR", named.c_str());
    EXPECT_EQ(lookUp(), "(none)");
    fs::create_directory(temp.host() / "Named");
    EXPECT_EQ(lookUp(), temp.windows("Named"));
    platform::SetEnvironmentVariableA("XDG_DOCUMENTS_DIR", nullptr);
    platform::SetEnvironmentVariableA("HOME", home.empty() ? nullptr : home.c_str());
}

// A view holds the whole file; the file stays locked against a second
// mapping until it is closed, and a view is unmapped once.
TEST(MemoryMapping, ViewHoldsTheWholeFileWhileTheFileIsHeld)
{
    TempDirectory temp;
    std::string const bytes = std::string(70000, 'x') + "end";
    std::ofstream(temp.host() / "data.bin", std::ios::binary) << bytes;
    std::string const path = temp.windows("data.bin");
    platform::FileHandle file = platform::OpenFileForMapping(path.c_str());
    ASSERT_NE(file, platform::INVALID_FILE_HANDLE);
    EXPECT_EQ(platform::OpenFileForMapping(path.c_str()), platform::INVALID_FILE_HANDLE);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_SHARING_VIOLATION);
    int64_t size = 0;
    EXPECT_TRUE(platform::GetFileSize(file, &size));
    EXPECT_EQ(size, static_cast<int64_t>(bytes.size()));
    platform::FileMapping *mapping = platform::CreateFileMapping(file);
    ASSERT_NE(mapping, nullptr);
    void const *view = platform::MapViewOfFile(mapping);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(static_cast<char const *>(view), bytes.size()), bytes);
    EXPECT_TRUE(platform::UnmapViewOfFile(view));
    EXPECT_FALSE(platform::UnmapViewOfFile(view));
    EXPECT_TRUE(platform::CloseFileMapping(mapping));
    EXPECT_TRUE(platform::CloseMappedFile(file));
    file = platform::OpenFileForMapping(path.c_str());
    EXPECT_NE(file, platform::INVALID_FILE_HANDLE);
    EXPECT_TRUE(platform::CloseMappedFile(file));
    std::ofstream(temp.host() / "empty.bin").flush();
    file = platform::OpenFileForMapping(temp.windows("empty.bin").c_str());
    EXPECT_TRUE(platform::CreateFileMapping(file) == nullptr && platform::CloseMappedFile(file));  // nothing to map
    EXPECT_EQ(platform::OpenFileForMapping(temp.windows("missing.bin").c_str()), platform::INVALID_FILE_HANDLE);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
}

TEST(NamedPipe, OnlyAPipeThatAServerHoldsOpens)
{
    TempDirectory temp;
    platform::SetPipeDirectory(temp.host().string());
    std::string const prefix = "\\\\.\\pipe\\";
    EXPECT_EQ(platform::OpenNamedPipeForWriting("not a pipe name"), nullptr);
    EXPECT_EQ(platform::OpenNamedPipeForWriting((prefix + std::string(200, 'x')).c_str()), nullptr);
    uint32_t written = 7;
    EXPECT_FALSE(platform::WritePipe(nullptr, "x", 1, &written));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(platform::SetPipeMessageMode(nullptr));
    platform::ClosePipe(nullptr);

    std::string message;
    platform::PipeHandle pipe;
    {
        platform::NamedPipeServer server("\\\\.\\pipe\\LogViewer");
        ASSERT_TRUE(server.valid());
        EXPECT_FALSE(server.ReadMessage(message, 10));  // nobody connected
        // A pipe opens under its own name only.
        EXPECT_EQ(platform::OpenNamedPipeForWriting((prefix + "nobody").c_str()), nullptr);
        EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
        pipe = platform::OpenNamedPipeForWriting("\\\\.\\PIPE\\LogViewer");
        ASSERT_NE(pipe, nullptr);
        EXPECT_TRUE(platform::SetPipeMessageMode(pipe));
        EXPECT_TRUE(platform::WritePipe(pipe, "first", 5, &written) &&
                    platform::WritePipe(pipe, "second", 6, &written));
        EXPECT_EQ(written, 6u);
        ASSERT_TRUE(server.ReadMessage(message, 2000));
        EXPECT_EQ(message, "first");  // one write, one message
        ASSERT_TRUE(server.ReadMessage(message, 2000));
        EXPECT_EQ(message, "second");
        EXPECT_FALSE(server.ReadMessage(message, 10));
    }
    EXPECT_FALSE(platform::WritePipe(pipe, "late", 4, &written));  // the reader is gone
    platform::ClosePipe(pipe);
    platform::SetPipeDirectory("");
}

TEST(PlatformClock, CtimeTextAndRealClocksThatMoveForward)
{
    platform::SetEnvironmentVariableA("TZ", "UTC");
    ::tzset();
    char first[32], second[32];
    ASSERT_TRUE(platform::LocalTimeText(0, first) && platform::LocalTimeText(1796525691, second));
    EXPECT_EQ(std::string(first) + "|" + second, "Thu Jan  1 00:00:00 1970|Sun Dec  6 02:54:51 2026");

    int64_t frequency = 0, before = 0, after = 0;
    EXPECT_TRUE(platform::QueryPerformanceFrequency(&frequency) && frequency == 1000000000) << frequency;
    uint32_t tickBefore = platform::GetTickCount();
    // The counter runs at the real rate: its interval lies between the inner
    // and the outer interval of the readings around its two readings.
    using Clock = std::chrono::steady_clock;
    platform::QueryPerformanceCounter(&before);  // the first reading measures the rate, outside the intervals
    auto const outerStart = Clock::now();
    platform::QueryPerformanceCounter(&before);
    auto const innerStart = Clock::now();
    platform::Sleep(30);
    auto const innerEnd = Clock::now();
    platform::QueryPerformanceCounter(&after);
    auto const outerEnd = Clock::now();
    auto const nanoseconds = [](Clock::duration d) { return std::chrono::duration<double, std::nano>(d).count(); };
    double const counted = static_cast<double>(after - before);
    EXPECT_TRUE(counted >= 0.98 * nanoseconds(innerEnd - innerStart) &&
                counted <= 1.02 * nanoseconds(outerEnd - outerStart))
        << counted;
    EXPECT_LT(static_cast<uint32_t>(platform::GetTickCount() - tickBefore), 0x80000000u);  // not backwards
}

TEST(PlatformProcess, ThreadIdsAreDistinctAndStable)
{
    uint32_t mine = platform::GetCurrentThreadId();
    EXPECT_EQ(mine, platform::GetCurrentThreadId());
    EXPECT_EQ(mine, platform::GetCurrentProcessId());  // the main thread's id is the process id
    uint32_t other = 0;
    std::thread([&] { other = platform::GetCurrentThreadId(); }).join();
    EXPECT_NE(other, mine);
    EXPECT_NE(other, 0u);
}

TEST(PlatformLock, CriticalSectionIsRecursive)
{
    platform::CriticalSection section;
    platform::CriticalSectionLock outer(section);
    platform::CriticalSectionLock inner(section);
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = section.try_lock(); }).join();
    EXPECT_FALSE(otherGotIt);
}

TEST(PlatformMessageBox, RecordedAndAnsweredAtOnce)
{
    platform::SetMessageBoxEcho(false);
    platform::TakeMessageBoxRecords();
    EXPECT_EQ(platform::MessageBoxA(nullptr, "text", "Caption", platform::MB_OK), platform::IDOK);
    EXPECT_EQ(platform::MessageBoxA(nullptr, "question", "Q", platform::MB_YESNO), platform::IDYES);
    platform::ScriptMessageBoxAnswer(platform::IDNO);
    EXPECT_EQ(platform::MessageBoxA(nullptr, "scripted", "Q", platform::MB_YESNO), platform::IDNO);
    EXPECT_EQ(platform::MessageBoxA(nullptr, nullptr, nullptr, platform::MB_OKCANCEL), platform::IDOK);

    std::string records;
    for (auto const &box : platform::TakeMessageBoxRecords())
        records += box.caption + ": " + box.text + " (" + std::to_string(box.type) + ") ";
    EXPECT_EQ(records, "Caption: text (0) Q: question (4) Q: scripted (4) Error:  (1) ");
    EXPECT_TRUE(platform::TakeMessageBoxRecords().empty());

    // The record stays bounded however many boxes a program raises.
    for (int i = 0; i < 1000; ++i)
        platform::MessageBoxA(nullptr, "again", "Error", platform::MB_OK);
    EXPECT_LE(platform::TakeMessageBoxRecords().size(), 64u);
    platform::SetMessageBoxEcho(true);
}

// The monitor of a rectangle: the largest overlap (the first of equals), else
// the fallback; the nearest one is never an empty monitor.
TEST(PlatformDisplay, TheLargestOverlapOrTheFallback)
{
    using platform::MONITOR_DEFAULTTONEAREST;
    platform::SetDisplayMonitors({{-100, 0, 0, 100, false}, {0, 0, 200, 100, true}, {400, 0, 500, 0, false}});
    platform::DisplayMonitor info{};
    auto picked = [&](int32_t left, int32_t right, uint32_t flags) {  // the monitor's left edge, 1 for none
        return platform::GetMonitorRect(platform::MonitorFromRect(left, 10, right, 20, flags), &info) ? info.left : 1;
    };
    EXPECT_EQ(std::vector<int32_t>({picked(-60, 50, 0), picked(-50, 50, 0), picked(-10, 60, 0), picked(300, 310, 0),
                                    picked(300, 310, platform::MONITOR_DEFAULTTOPRIMARY),
                                    picked(450, 460, MONITOR_DEFAULTTONEAREST),
                                    picked(-300, -200, MONITOR_DEFAULTTONEAREST)}),
              std::vector<int32_t>({-100, -100, 0, 1, 0, 0, -100}));
    EXPECT_TRUE(platform::GetMonitorRect(3, &info) && info.left == 400);
    EXPECT_FALSE(platform::GetMonitorRect(4, &info));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(std::to_string(platform::GetSystemMetrics(platform::SM_CXSCREEN)) + "x" +
                  std::to_string(platform::GetSystemMetrics(platform::SM_CYSCREEN)) + " " +
                  std::to_string(platform::GetSystemMetrics(platform::SM_CMONITORS)),
              "200x100 3");
    platform::ResetDisplayMonitors();
}

TEST(PlatformDebugger, DiscardedUnlessASinkIsSet)
{
    std::string seen;
    platform::OutputDebugStringA("nobody hears this");
    platform::SetDebugOutputSink([](char const *text, void *context) { *static_cast<std::string *>(context) += text; },
                                 &seen);
    platform::OutputDebugStringA("one");
    platform::OutputDebugStringA(nullptr);
    platform::OutputDebugStringA("two");
    platform::SetDebugOutputSink(nullptr, nullptr);
    platform::OutputDebugStringA("three");
    EXPECT_EQ(seen, "onetwo");
}

}  // namespace
