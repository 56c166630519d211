#include "../Process.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "../LastError.h"
#include "ErrorTranslation.h"

namespace platform {

uint32_t GetCurrentThreadId()
{
    // gettid is a system call; the id never changes for a thread, so keep it.
    thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
    return id;
}

uint32_t GetCurrentProcessId()
{
    return static_cast<uint32_t>(::getpid());
}

namespace {

std::atomic<StopHandler> g_stopHandler{nullptr};

void onStopSignal(int)
{
    if (StopHandler handler = g_stopHandler.load())
        handler();
}

}  // namespace

void OnStopRequest(StopHandler handler)
{
    g_stopHandler.store(handler);
    struct sigaction action {};
    action.sa_handler = handler != nullptr ? onStopSignal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool RequestProcessStop(uint32_t processId)
{
    if (processId == 0 || ::kill(static_cast<pid_t>(processId), SIGTERM) != 0) {
        posix::SetLastSystemError(processId == 0 ? EINVAL : errno);
        return false;
    }
    return true;
}

bool SetEnvironmentVariableA(char const *name, char const *value)
{
    if (name == nullptr || name[0] == '\0' || (value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name)) != 0) {
        posix::SetLastSystemError(name == nullptr || name[0] == '\0' ? EINVAL : errno);
        return false;
    }
    if (std::strcmp(name, "TZ") == 0)
        ::tzset();
    return true;
}

}  // namespace platform
