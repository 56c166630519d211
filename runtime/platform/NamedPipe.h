#pragma once

/// \file
/// Named pipes, opened and written by name.

#include <cstdint>
#include <string>

#include "../Export.h"

namespace platform {

/// Named pipes "\\.\pipe\NAME": the system's on Windows; elsewhere a local
/// message socket in a runtime directory. A pipe that no server holds cannot
/// be opened, and message read mode keeps each write one message.
using PipeHandle = void *;

/// CreateFileA(name, GENERIC_WRITE, no sharing, OPEN_EXISTING) on a pipe
/// name: the client end, or null (last error set) when no server holds it.
SHAREDLIB_API PipeHandle OpenNamedPipeForWriting(char const *pipeName);
/// SetNamedPipeHandleState(PIPE_READMODE_MESSAGE).
SHAREDLIB_API bool SetPipeMessageMode(PipeHandle pipe);
///@{

/// WriteFile: one message; false when the other end is gone.
SHAREDLIB_API bool WritePipe(PipeHandle pipe, void const *data, uint32_t size, uint32_t *written);
/// CloseHandle for a pipe.
SHAREDLIB_API void ClosePipe(PipeHandle pipe);
///@}

/// The server end, for hosts that read a pipe and for tests.
class SHAREDLIB_API NamedPipeServer {
public:
    /// Creates the pipe; valid() is false when the name cannot be served.
    explicit NamedPipeServer(char const *pipeName);
    ~NamedPipeServer();
    NamedPipeServer(NamedPipeServer const &) = delete;
    NamedPipeServer &operator=(NamedPipeServer const &) = delete;

    /// Whether the pipe is being served.
    bool valid() const { return m_listener >= 0; }
    /// Waits up to timeoutMs for a client, then for its next message; false
    /// when none came in time or the client left.
    bool ReadMessage(std::string &message, int timeoutMs);

private:
    int m_listener;
    int m_client;
    std::string m_path;
};

/// Where pipe sockets live: $XDG_RUNTIME_DIR, else /tmp, in a folder of ours.
/// A test may point it elsewhere ("" restores the default).
SHAREDLIB_API void SetPipeDirectory(std::string const &hostDirectory);

}  // namespace platform
