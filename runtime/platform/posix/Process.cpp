#include "../Process.h"

#include <sys/syscall.h>
#include <unistd.h>

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

}  // namespace platform
