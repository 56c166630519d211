#include "../ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "../DriveMap.h"
#include "../LastError.h"
#include "../common/Common.h"
#include "ErrorTranslation.h"

extern char **environ;

namespace platform {
namespace {

bool looksLikeWindowsPath(char const *path)
{
    for (char const *p = path; *p != '\0'; ++p)
        if (*p == '\\')
            return true;
    char const first = path[0];
    return ((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z')) && path[1] == ':';
}

int64_t nowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void closeDescriptor(int &descriptor)
{
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(char const *commandLine)
{
    return common::SplitWindowsCommandLine(commandLine);
}

std::string HostProgramPath(char const *program)
{
    if (program == nullptr)
        return std::string();
    if (looksLikeWindowsPath(program))
        return HostPath(program);
    return program;
}

ChildProcess::ChildProcess()
    : m_pid(-1), m_readEnd(-1), m_writeEnd(-1), m_processDescriptor(-1), m_exited(false), m_pipeClosed(false),
      m_exitCode(kStillActive)
{
}

ChildProcess::~ChildProcess()
{
    closeDescriptor(m_readEnd);
    closeDescriptor(m_writeEnd);
    if (m_pid > 0 && !m_exited)
        reap(false);
    closeDescriptor(m_processDescriptor);
}

bool ChildProcess::CreateOutputPipe()
{
    if (m_readEnd >= 0)
        return true;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        posix::SetLastSystemError(errno);
        return false;
    }
    // The parent polls; a read must never block.
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    return true;
}

bool ChildProcess::Start(char const *program, char const *commandLine, char const *workingDirectory)
{
    if (m_pid > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    bool const search = program == nullptr || program[0] == '\0';
    std::string file;
    if (search) {
        if (arguments.empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        file = HostProgramPath(arguments[0].c_str());
    } else {
        file = HostProgramPath(program);
        if (arguments.empty())
            arguments.emplace_back(program);
    }
    if (file.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::string directory;
    if (workingDirectory != nullptr) {
        directory = HostPath(workingDirectory);
        if (directory.empty()) {
            SetLastError(ERROR_DIRECTORY);
            return false;
        }
    }
    if (!CreateOutputPipe())
        return false;

    std::vector<char *> argv;
    argv.reserve(arguments.size() + 1);
    for (auto &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    // Standard input stays the parent's; output and error go into the pipe.
    ::posix_spawn_file_actions_adddup2(&actions, m_writeEnd, 1);
    ::posix_spawn_file_actions_adddup2(&actions, m_writeEnd, 2);
    if (!directory.empty())
        ::posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    // The child starts with no blocked signals and the default action for
    // SIGPIPE, whatever this process chose for itself.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int const result = search ? ::posix_spawnp(&pid, file.c_str(), &actions, &attributes, argv.data(), environ)
                              : ::posix_spawn(&pid, file.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        posix::SetLastSystemError(result);
        return false;
    }
    m_pid = pid;
    m_exited = false;
    m_exitCode = kStillActive;
    // Only the child writes: once it (and anything it started) is gone the
    // pipe reads as ended.
    closeDescriptor(m_writeEnd);
#if defined(SYS_pidfd_open)
    m_processDescriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (m_processDescriptor >= 0)
        ::fcntl(m_processDescriptor, F_SETFD, FD_CLOEXEC);
#endif
    return true;
}

bool ChildProcess::reap(bool block)
{
    if (m_exited)
        return true;
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0)
        return false;
    if (done < 0) {
        // Reaped elsewhere (or SIGCHLD ignored): it has ended, its code is lost.
        m_exitCode = -1;
    } else if (WIFEXITED(status)) {
        m_exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        m_exitCode = 128 + WTERMSIG(status);
    } else {
        return false;
    }
    m_exited = true;
    closeDescriptor(m_processDescriptor);
    return true;
}

ChildProcess::WaitResult ChildProcess::Wait(int32_t timeoutMs)
{
    if (m_pid <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WaitResult::Failed;
    }
    if (reap(false))
        return WaitResult::Exited;
    int64_t const deadline = nowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        pollfd descriptors[2];
        int count = 0;
        int processSlot = -1, pipeSlot = -1;
        if (m_processDescriptor >= 0) {
            processSlot = count;
            descriptors[count++] = pollfd{m_processDescriptor, POLLIN, 0};
        }
        if (m_readEnd >= 0 && !m_pipeClosed) {
            pipeSlot = count;
            descriptors[count++] = pollfd{m_readEnd, POLLIN, 0};
        }
        int64_t remaining = deadline - nowMs();
        if (remaining < 0)
            remaining = 0;
        // Without a process descriptor the child's end is noticed by asking
        // in short slices.
        int slice = static_cast<int>(remaining);
        if (m_processDescriptor < 0 && slice > 5)
            slice = 5;
        int const ready = ::poll(descriptors, static_cast<nfds_t>(count), slice);
        if (ready < 0 && errno != EINTR) {
            posix::SetLastSystemError(errno);
            return WaitResult::Failed;
        }
        bool const processSignalled =
            processSlot < 0 || (ready > 0 && descriptors[processSlot].revents != 0);
        if (processSignalled && reap(false))
            return WaitResult::Exited;
        if (ready > 0 && pipeSlot >= 0) {
            short const events = descriptors[pipeSlot].revents;
            if (events & POLLIN)
                return WaitResult::Output;
            if (events & (POLLHUP | POLLERR | POLLNVAL))
                m_pipeClosed = true;  // nothing more can come; wait on the child alone
        }
        if (remaining == 0)
            return WaitResult::Timeout;
    }
}

bool ChildProcess::BytesAvailable(uint32_t &count)
{
    count = 0;
    if (m_readEnd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    int waiting = 0;
    if (::ioctl(m_readEnd, FIONREAD, &waiting) != 0) {
        posix::SetLastSystemError(errno);
        return false;
    }
    count = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
    return true;
}

int32_t ChildProcess::Read(void *buffer, uint32_t size)
{
    if (m_readEnd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (size > 0x7FFFFFFFu)
        size = 0x7FFFFFFFu;
    ssize_t got;
    do {
        got = ::read(m_readEnd, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        posix::SetLastSystemError(errno);
        return -1;
    }
    if (got == 0 && size > 0)
        m_pipeClosed = true;
    return static_cast<int32_t>(got);
}

bool ChildProcess::HasExited()
{
    return reap(false);
}

bool ChildProcess::GetExitCode(int32_t &code)
{
    if (m_pid <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    reap(false);
    code = m_exitCode;
    return true;
}

}  // namespace platform
