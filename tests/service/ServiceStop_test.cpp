#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include <SharedLib/platform/ChildProcess.h>

#include "support/TempDirectory.h"

// A service program started the way systemd starts it (its unit's variable
// naming the service, NOTIFY_SOCKET naming a socket this test listens on) is
// stopped by a signal, and shuts down in order.
namespace {

using Clock = std::chrono::steady_clock;

// The manager's end of the notification socket.
class NotifySocket {
public:
    explicit NotifySocket(std::string address) : m_address(std::move(address))
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un name {};
        name.sun_family = AF_UNIX;
        std::memcpy(name.sun_path, m_address.data(), m_address.size());
        if (m_address[0] == '@')
            name.sun_path[0] = '\0';
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&name),
               static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + m_address.size()));
    }
    ~NotifySocket() { ::close(m_fd); }

    std::string const &address() const { return m_address; }

    // The next datagram, or "" when none comes within ten seconds.
    std::string receive()
    {
        struct pollfd wait = {m_fd, POLLIN, 0};
        if (::poll(&wait, 1, 10000) != 1)
            return std::string();
        char buffer[256];
        ssize_t const got = ::recv(m_fd, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
    }

private:
    std::string m_address;
    int m_fd;
};

// Starts the helper as the manager would, its service named as given.
bool startHelper(platform::ChildProcess &child, char const *serviceName, std::string const &notifySocket)
{
    ::setenv("SHAREDLIB_SERVICE_NAME", serviceName, 1);
    ::setenv("NOTIFY_SOCKET", notifySocket.c_str(), 1);
    bool const started = child.Start(STOP_HELPER_PROGRAM, STOP_HELPER_PROGRAM);
    ::unsetenv("SHAREDLIB_SERVICE_NAME");
    ::unsetenv("NOTIFY_SOCKET");
    return started;
}

// What the child writes until it ends, within ten seconds.
std::string finish(platform::ChildProcess &child, int32_t &exitCode)
{
    std::string output;
    auto const deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        bool const exited = child.Wait(100) == platform::ChildProcess::WaitResult::Exited;
        char buffer[1024];
        for (int32_t got; (got = child.Read(buffer, sizeof buffer)) > 0;)
            output.append(buffer, static_cast<size_t>(got));
        if (exited || Clock::now() > deadline)
            break;
    }
    exitCode = -1;
    child.GetExitCode(exitCode);
    return output;
}

TEST(ServiceStop, StopSignalReachesTheServiceWhichEndsInOrder)
{
    TempDirectory dir;
    struct Case {
        std::string socket;
        int signal;
    };
    Case const cases[] = {
        {"@sharedlib-stop-" + std::to_string(::getpid()), SIGTERM},
        {(dir.host() / "notify").string(), SIGINT},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.socket);
        NotifySocket manager(c.socket);
        platform::ChildProcess child;
        ASSERT_TRUE(startHelper(child, "stophelper", manager.address()));
        EXPECT_EQ(manager.receive(), "READY=1");
        ASSERT_EQ(::kill(child.processId(), c.signal), 0);
        EXPECT_EQ(manager.receive(), "STOPPING=1");
        int32_t exitCode = 0;
        EXPECT_EQ(finish(child, exitCode), "running StopHelper\nstopping in order\ndispatcher returned 0\n");
        EXPECT_EQ(exitCode, 0);
    }
}

TEST(ServiceStop, ProgramStartedForAnotherServiceRunsInItsConsole)
{
    TempDirectory dir;
    NotifySocket manager((dir.host() / "notify").string());
    platform::ChildProcess child;
    ASSERT_TRUE(startHelper(child, "Launcher", manager.address()));
    int32_t exitCode = 0;
    EXPECT_EQ(finish(child, exitCode), "*** --- *** Unable to start service \n"
                                       "The service process could not connect to the service controller.\r\n\n\n"
                                       "dispatcher returned 1063\n");
    EXPECT_EQ(exitCode, 1063 & 0xFF);
}

}  // namespace
