#include "WindowsApi.h"

#include <mutex>

#include "../ChildProcess.h"
#include "../common/Common.h"

// CreateProcessA with the child's standard output and error in one anonymous
// pipe. The handles travel in the layer's int-sized fields: m_readEnd and
// m_writeEnd are the pipe's ends, m_processDescriptor the process handle.
namespace platform {
namespace {

// Handles become inheritable only while one child is being created, so a
// child started on another thread never takes this one's pipe along.
std::mutex g_startLock;

void closeHandle(int &handle)
{
    if (handle != -1) {
        ::CloseHandle(win32::IntToHandle(handle));
        handle = -1;
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(char const *commandLine)
{
    return common::SplitWindowsCommandLine(commandLine);
}

std::string HostProgramPath(char const *program) { return program != nullptr ? program : std::string(); }

ChildProcess::ChildProcess()
    : m_pid(-1), m_readEnd(-1), m_writeEnd(-1), m_processDescriptor(-1), m_exited(false), m_pipeClosed(false),
      m_exitCode(kStillActive)
{
}

ChildProcess::~ChildProcess()
{
    closeHandle(m_readEnd);
    closeHandle(m_writeEnd);
    closeHandle(m_processDescriptor);
}

bool ChildProcess::CreateOutputPipe()
{
    if (m_readEnd != -1)
        return true;
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
        win32::SetLastFromSystem();
        return false;
    }
    m_readEnd = win32::HandleToInt(readEnd);
    m_writeEnd = win32::HandleToInt(writeEnd);
    m_pipeClosed = false;
    return true;
}

bool ChildProcess::Start(char const *program, char const *commandLine, char const *workingDirectory)
{
    if (m_pid > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    bool const search = program == nullptr || program[0] == '\0';
    std::string line = commandLine != nullptr ? commandLine : "";
    if (search && SplitCommandLine(line.c_str()).empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!CreateOutputPipe())
        return false;

    HANDLE output = win32::IntToHandle(m_writeEnd);
    // The child reads this process's standard input (a copy the child can
    // inherit), or the null device when there is none.
    HANDLE input = nullptr;
    HANDLE ours = ::GetStdHandle(STD_INPUT_HANDLE);
    if (ours == nullptr || ours == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), ours, ::GetCurrentProcess(), &input, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        input = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
        if (input == INVALID_HANDLE_VALUE) {
            win32::SetLastFromSystem();
            return false;
        }
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION created{};
    BOOL ok;
    {
        std::lock_guard<std::mutex> guard(g_startLock);
        ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        ::SetHandleInformation(input, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        ok = ::CreateProcessA(search ? nullptr : program, line.empty() ? nullptr : line.data(), nullptr, nullptr,
                              TRUE, 0, nullptr, workingDirectory, &startup, &created);
        if (!ok)
            win32::SetLastFromSystem();
        ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    }
    ::CloseHandle(input);
    if (!ok) {
        if (workingDirectory != nullptr && GetLastError() == ERROR_INVALID_NAME)
            SetLastError(ERROR_DIRECTORY);
        return false;
    }
    ::CloseHandle(created.hThread);
    m_pid = static_cast<int32_t>(created.dwProcessId);
    m_processDescriptor = win32::HandleToInt(created.hProcess);
    m_exited = false;
    m_exitCode = kStillActive;
    // Only the child writes: once it (and anything it started) is gone the
    // pipe reads as ended.
    closeHandle(m_writeEnd);
    return true;
}

bool ChildProcess::reap(bool block)
{
    if (m_exited)
        return true;
    if (m_pid <= 0 || m_processDescriptor == -1)
        return false;
    HANDLE process = win32::IntToHandle(m_processDescriptor);
    if (::WaitForSingleObject(process, block ? INFINITE : 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    m_exitCode = ::GetExitCodeProcess(process, &code) ? static_cast<int32_t>(code) : -1;
    m_exited = true;
    return true;
}

ChildProcess::WaitResult ChildProcess::Wait(int32_t timeoutMs)
{
    if (m_pid <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WaitResult::Failed;
    }
    // An anonymous pipe cannot be waited on: the child's handle is, in
    // slices short enough that output is noticed promptly.
    DWORD const started = ::GetTickCount();
    DWORD const limit = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    HANDLE process = win32::IntToHandle(m_processDescriptor);
    for (;;) {
        if (reap(false))
            return WaitResult::Exited;
        uint32_t waiting = 0;
        if (!m_pipeClosed && m_readEnd != -1) {
            if (!BytesAvailable(waiting))
                m_pipeClosed = true;  // nothing more can come; wait on the child alone
            else if (waiting > 0)
                return WaitResult::Output;
        }
        DWORD elapsed = ::GetTickCount() - started;
        if (elapsed >= limit)
            return WaitResult::Timeout;
        DWORD slice = limit - elapsed;
        if (!m_pipeClosed && slice > 2)
            slice = 2;
        ::WaitForSingleObject(process, slice);
    }
}

bool ChildProcess::BytesAvailable(uint32_t &count)
{
    count = 0;
    if (m_readEnd == -1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD available = 0;
    if (!::PeekNamedPipe(win32::IntToHandle(m_readEnd), nullptr, 0, nullptr, &available, nullptr)) {
        win32::SetLastFromSystem();
        return false;
    }
    count = available;
    return true;
}

int32_t ChildProcess::Read(void *buffer, uint32_t size)
{
    if (m_readEnd == -1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    uint32_t available = 0;
    if (!BytesAvailable(available)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) {
            m_pipeClosed = true;
            return 0;
        }
        return -1;
    }
    if (available == 0 || size == 0)
        return 0;
    if (size > available)
        size = available;
    if (size > 0x7FFFFFFFu)
        size = 0x7FFFFFFFu;
    DWORD got = 0;
    if (!::ReadFile(win32::IntToHandle(m_readEnd), buffer, size, &got, nullptr)) {
        if (win32::SetLastFromSystem() == ERROR_BROKEN_PIPE) {
            m_pipeClosed = true;
            return 0;
        }
        return -1;
    }
    return static_cast<int32_t>(got);
}

bool ChildProcess::HasExited() { return reap(false); }

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
