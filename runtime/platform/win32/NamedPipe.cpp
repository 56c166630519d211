#include "WindowsApi.h"

#include "../NamedPipe.h"

// The system's named pipes. The server end keeps its pipe handle in the
// layer's int-sized m_listener (-1 without one) and whether a client is
// connected in m_client.
namespace platform {
namespace {

// Waits for an overlapped operation that the system left pending; false
// (with the operation cancelled) when it does not end in time.
bool finish(HANDLE pipe, OVERLAPPED &operation, int timeoutMs, DWORD *transferred)
{
    DWORD wait = ::WaitForSingleObject(operation.hEvent, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (wait != WAIT_OBJECT_0) {
        ::CancelIo(pipe);
        ::GetOverlappedResult(pipe, &operation, transferred, TRUE);
        return false;
    }
    return ::GetOverlappedResult(pipe, &operation, transferred, FALSE) != 0;
}

}  // namespace

PipeHandle OpenNamedPipeForWriting(char const *pipeName)
{
    if (pipeName == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    HANDLE pipe = ::CreateFileA(pipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        win32::SetLastFromSystem();
        return nullptr;
    }
    return pipe;
}

bool SetPipeMessageMode(PipeHandle pipe)
{
    if (pipe == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (::SetNamedPipeHandleState(static_cast<HANDLE>(pipe), &mode, nullptr, nullptr))
        return true;
    win32::SetLastFromSystem();
    return false;
}

bool WritePipe(PipeHandle pipe, void const *data, uint32_t size, uint32_t *written)
{
    if (written != nullptr)
        *written = 0;
    if (pipe == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD done = 0;
    if (!::WriteFile(static_cast<HANDLE>(pipe), data, size, &done, nullptr)) {
        uint32_t code = win32::SetLastFromSystem();
        if (code == ERROR_NO_DATA)
            SetLastError(ERROR_BROKEN_PIPE);  // the reader has closed its end
        return false;
    }
    if (written != nullptr)
        *written = done;
    return true;
}

void ClosePipe(PipeHandle pipe)
{
    if (pipe != nullptr)
        ::CloseHandle(static_cast<HANDLE>(pipe));
}

NamedPipeServer::NamedPipeServer(char const *pipeName) : m_listener(-1), m_client(-1)
{
    if (pipeName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    m_path = pipeName;
    HANDLE pipe = ::CreateNamedPipeA(pipeName, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 65536, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        win32::SetLastFromSystem();
        return;
    }
    m_listener = win32::HandleToInt(pipe);
}

NamedPipeServer::~NamedPipeServer()
{
    if (m_listener < 0)
        return;
    HANDLE pipe = win32::IntToHandle(m_listener);
    if (m_client >= 0)
        ::DisconnectNamedPipe(pipe);
    ::CloseHandle(pipe);
}

bool NamedPipeServer::ReadMessage(std::string &message, int timeoutMs)
{
    if (m_listener < 0)
        return false;
    HANDLE pipe = win32::IntToHandle(m_listener);
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    bool ok = true;
    if (m_client < 0) {
        OVERLAPPED connect{};
        connect.hEvent = event;
        DWORD ignored = 0;
        if (::ConnectNamedPipe(pipe, &connect)) {
            m_client = 1;
        } else {
            DWORD code = ::GetLastError();
            if (code == ERROR_PIPE_CONNECTED)
                m_client = 1;
            else if (code == ERROR_IO_PENDING && finish(pipe, connect, timeoutMs, &ignored))
                m_client = 1;
            else
                ok = false;
        }
    }
    std::string received;
    while (ok) {
        char buffer[65536];
        OVERLAPPED read{};
        read.hEvent = event;
        ::ResetEvent(event);
        DWORD got = 0;
        bool done = ::ReadFile(pipe, buffer, sizeof buffer, &got, &read) != 0;
        DWORD code = done ? ERROR_SUCCESS : ::GetLastError();
        if (!done && code == ERROR_IO_PENDING) {
            done = finish(pipe, read, timeoutMs, &got);
            code = done ? ERROR_SUCCESS : ::GetLastError();
        }
        if (done || code == ERROR_MORE_DATA) {
            received.append(buffer, got);
            if (done) {
                message = received;
                break;
            }
            continue;
        }
        if (code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED) {
            // The client left: the next read waits for a new one.
            ::DisconnectNamedPipe(pipe);
            m_client = -1;
        }
        ok = false;
    }
    ::CloseHandle(event);
    return ok;
}

void SetPipeDirectory(std::string const &) {}

}  // namespace platform
