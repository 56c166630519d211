#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <SharedLib/platform/ChildProcess.h>
#include <SharedLib/platform/DriveMap.h>
#include <SharedLib/platform/FileSystem.h>
#include <SharedLib/platform/LastError.h>

#include "support/TempDirectory.h"

// Child processes and command lines, through the platform layer (the
// children are POSIX shells), and a service program that such a child runs.
namespace {

using Strings = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheRuntimeQuotingRules)
{
    struct Case {
        char const *line;
        Strings arguments;
    };
    Case const cases[] = {
        {"p4 edit \"a b.txt\" ", {"p4", "edit", "a b.txt"}}, {"  prog\ta   b ", {"prog", "a", "b"}},
        {"\"c:\\Program Files\\p4.exe\" x", {"c:\\Program Files\\p4.exe", "x"}},
        {"prog a\\\\b c\\d", {"prog", "a\\\\b", "c\\d"}},         // lone backslashes stay
        {"prog a\\\"b", {"prog", "a\"b"}},                        // \" is a quote
        {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},                // \\" is \ and a group
        {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},                  // \\\" is \ and a quote
        {"prog \"\" x", {"prog", "", "x"}},                      // an empty argument
        {"prog \"a\"\"b\" c", {"prog", "a\"b", "c"}},             // "" inside quotes
        {"prog \"unterminated arg", {"prog", "unterminated arg"}},
        {"pro\"g x\"\\ y", {"prog x\\", "y"}},                    // the name never escapes
        {"prog a\"b c\"d", {"prog", "ab cd"}},
        {"", {}}, {"   ", {}},
    };
    for (auto const &c : cases)
        EXPECT_EQ(platform::SplitCommandLine(c.line), c.arguments) << c.line;
    EXPECT_TRUE(platform::SplitCommandLine(nullptr).empty());
}

TEST(HostProgramPath, MapsWindowsPathsOnly)
{
    TempDirectory dir;
    platform::MapDrive('q', dir.host().string());
    EXPECT_EQ(platform::HostProgramPath("q:\\tool.sh"), (dir.host() / "tool.sh").string());
    EXPECT_EQ(platform::HostProgramPath("/bin/sh"), "/bin/sh");
    EXPECT_EQ(platform::HostProgramPath("bin\\tool"), "bin/tool");
    platform::ResetDriveMap();
    EXPECT_EQ(platform::HostProgramPath("q:\\tool.sh"), "");
}

// Everything the child writes, until it ends (bounded by the test's timeout).
std::string collect(platform::ChildProcess &child, int32_t &exitCode)
{
    std::string output;
    char buffer[4096];
    for (;;) {
        auto const result = child.Wait(1000);
        int32_t got;
        while ((got = child.Read(buffer, sizeof buffer)) > 0)
            output.append(buffer, static_cast<size_t>(got));
        if (result == platform::ChildProcess::WaitResult::Exited ||
            result == platform::ChildProcess::WaitResult::Failed)
            break;
    }
    EXPECT_TRUE(child.GetExitCode(exitCode));
    return output;
}

TEST(ChildProcess, OutputAndErrorShareOnePipeAndStdinIsTheParents)
{
    TempDirectory dir;
    std::ofstream(dir.host() / "stdin.txt", std::ios::binary) << "typed\n";
    int const saved = ::dup(0), file = ::open((dir.host() / "stdin.txt").c_str(), O_RDONLY);
    ::dup2(file, 0);
    platform::ChildProcess child;
    bool const started = child.Start("/bin/sh", "sh -c \"echo out; echo err >&2; cat; exit 7\"");
    ::dup2(saved, 0);
    ::close(saved), ::close(file);
    ASSERT_TRUE(started);
    int32_t code = 0;
    EXPECT_EQ(collect(child, code), "out\nerr\ntyped\n");
    EXPECT_EQ(code, 7);

    // In the given working directory, leaving this process's alone.
    std::string before, after;
    ASSERT_TRUE(platform::GetWorkingDirectory(before));
    platform::ChildProcess elsewhere;
    ASSERT_TRUE(elsewhere.Start("/bin/sh", "sh -c pwd", dir.windows().c_str()));
    std::string const output = collect(elsewhere, code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::filesystem::path(output.substr(0, output.size() - 1)), std::filesystem::canonical(dir.host()));
    ASSERT_TRUE(platform::GetWorkingDirectory(after));
    EXPECT_EQ(after, before);
}

TEST(ChildProcess, EndsAndFailuresAreReported)
{
    platform::ChildProcess quiet;
    ASSERT_TRUE(quiet.Start("/bin/sh", "sh -c \"sleep 0.3; echo x; sleep 0.3\""));
    EXPECT_EQ(quiet.Wait(50), platform::ChildProcess::WaitResult::Timeout);
    char byte = 0;
    EXPECT_EQ(quiet.Read(&byte, 1), 0);  // nothing yet is not a failure
    EXPECT_FALSE(quiet.HasExited());
    int32_t code = 0;
    EXPECT_TRUE(quiet.GetExitCode(code) && code == platform::ChildProcess::kStillActive) << code;
    EXPECT_EQ(quiet.Wait(10000), platform::ChildProcess::WaitResult::Output);  // as soon as it comes
    EXPECT_EQ(collect(quiet, code), "x\n");
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(quiet.HasExited());

    // A signal's end is reported; the child starts with nothing blocked and
    // SIGPIPE at its default, whatever this process chose for itself.
    sigset_t term, saved;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &term, &saved);
    auto const previous = ::signal(SIGPIPE, SIG_IGN);
    for (auto [name, number] : {std::pair{"KILL", SIGKILL}, {"TERM", SIGTERM}, {"PIPE", SIGPIPE}}) {
        platform::ChildProcess killed;
        ASSERT_TRUE(killed.Start("/bin/sh", (std::string("sh -c \"kill -") + name + " $$; exit 3\"").c_str()));
        collect(killed, code);
        EXPECT_EQ(code, 128 + number) << name;
    }
    ::signal(SIGPIPE, previous);
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);

    platform::ChildProcess missing;
    EXPECT_FALSE(missing.Start("/nonexistent/program", "program"));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.Wait(0), platform::ChildProcess::WaitResult::Failed);
    EXPECT_FALSE(missing.GetExitCode(code));
    platform::ChildProcess unmapped;
    EXPECT_FALSE(unmapped.Start("k:\\nothing\\here.exe", "here"));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_PATH_NOT_FOUND);

    // Without a program name the first argument is searched on the PATH.
    platform::ChildProcess searched;
    ASSERT_TRUE(searched.Start(nullptr, "sh -c \"exit 5\""));
    collect(searched, code);
    EXPECT_EQ(code, 5);
}

// The manager's end of a notification socket ("@name" is an abstract one).
struct NotifySocket {
    explicit NotifySocket(std::string const &address)
    {
        struct sockaddr_un name {};
        name.sun_family = AF_UNIX;
        std::memcpy(name.sun_path, address.data(), address.size());
        if (address[0] == '@')
            name.sun_path[0] = '\0';
        ::bind(fd, reinterpret_cast<sockaddr *>(&name),
               static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + address.size()));
    }
    ~NotifySocket() { ::close(fd); }

    // The next datagram, or "" when none comes within ten seconds.
    std::string receive()
    {
        struct pollfd wait = {fd, POLLIN, 0};
        char buffer[256];
        ssize_t const got = ::poll(&wait, 1, 10000) == 1 ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
        return std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0);
    }

    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

// A service program started as systemd starts it (its unit's variable naming
// the service, in any case, and NOTIFY_SOCKET the manager's socket) reports
// there, takes SIGTERM and SIGINT as its stop control and shuts down in order.
TEST(ServiceStop, StopSignalReachesTheServiceWhichEndsInOrder)
{
    TempDirectory dir;
    std::string abstract = "@sharedlib-stop-" + std::to_string(::getpid());
    abstract.resize(sizeof sockaddr_un::sun_path, '-');  // the longest name there is
    for (auto const &[socket, signal] : {std::pair{abstract, SIGTERM}, {(dir.host() / "notify").string(), SIGINT}}) {
        SCOPED_TRACE(socket);
        NotifySocket manager(socket);
        ::setenv("SHAREDLIB_SERVICE_NAME", "stophelper", 1);
        ::setenv("NOTIFY_SOCKET", socket.c_str(), 1);
        platform::ChildProcess child;
        bool const started = child.Start(STOP_HELPER_PROGRAM, STOP_HELPER_PROGRAM);
        ::unsetenv("SHAREDLIB_SERVICE_NAME");
        ::unsetenv("NOTIFY_SOCKET");
        ASSERT_TRUE(started);
        EXPECT_EQ(manager.receive(), "READY=1");
        ASSERT_EQ(::kill(child.processId(), signal), 0);
        EXPECT_EQ(manager.receive(), "STOPPING=1");
        int32_t code = -1;
        EXPECT_EQ(collect(child, code), "running StopHelper\nstopping in order\ndispatcher returned 0\n");
        EXPECT_EQ(code, 0);
    }
}

}  // namespace
