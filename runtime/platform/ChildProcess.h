#pragma once

/// \file
/// Child processes and Windows command lines.

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"

namespace platform {

/// CommandLineToArgv: the arguments of a Windows command line as the C
/// runtime hands them to main. Blanks and tabs separate arguments outside
/// double quotes; quotes group and are removed; 2n backslashes before a quote
/// give n backslashes and the quote groups, 2n+1 give n and a literal quote;
/// "" inside quotes is a literal quote; other backslashes are literal. The
/// program name (the first argument) takes quotes only, never escapes.
SHAREDLIB_API std::vector<std::string> SplitCommandLine(char const *commandLine);

/// The host file for a program name: a Windows path ("c:\tools\p4.exe",
/// "bin\tool") goes through the drive map, a host path stays as it is. ""
/// when the drive is not mapped.
SHAREDLIB_API std::string HostProgramPath(char const *program);

/// The files of the source-control client (p4) to try, in order: its two
/// standard install folders on Windows, the p4 found on the PATH elsewhere
/// (none when the PATH has none).
SHAREDLIB_API std::vector<std::string> SourceControlClientLocations();

/// A child process (CreateProcessA) whose standard output and standard error
/// both go into one anonymous pipe that the parent polls without blocking.
/// The child's standard input is the parent's standard input; it keeps the
/// parent's environment. Reading the pipe never raises SIGPIPE in the parent.
/// Every failing call sets the thread's last error (LastError.h).
class SHAREDLIB_API ChildProcess {
public:
    ChildProcess();
    /// Closes the pipe. A child still running is left to run (as closing its
    /// handle does); one that has ended is reaped.
    ~ChildProcess();
    ChildProcess(ChildProcess const &) = delete;
    ChildProcess &operator=(ChildProcess const &) = delete;

    /// CreatePipe: the pipe for the child's output. False (last error set)
    /// when no pipe can be made.
    bool CreateOutputPipe();
    /// CreateProcessA(program, commandLine): program is the file to run
    /// (mapped as HostProgramPath; not searched for: a name without a
    /// directory is taken from the working directory). A null or empty program
    /// runs the first argument of the command line, searched on the PATH.
    /// The arguments come from SplitCommandLine(commandLine). A null working
    /// directory keeps the parent's; another is a Windows path. Creates the
    /// output pipe first when CreateOutputPipe was not called. False (last
    /// error set: ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...) when the
    /// child cannot be started.
    bool Start(char const *program, char const *commandLine, char const *workingDirectory = nullptr);

    /// What a wait on the child ended with: it exited, it wrote output, the time ran out, or the wait failed.
    enum class WaitResult { Exited, Output, Timeout, Failed };
    /// WaitForMultipleObjects on the child and the pipe: Exited as soon as the
    /// child has ended (it comes first), Output when bytes wait in the pipe,
    /// Timeout after timeoutMs otherwise, Failed without a started child.
    WaitResult Wait(int32_t timeoutMs);

    /// PeekNamedPipe: the bytes waiting in the pipe. False when the pipe is
    /// not open or cannot be asked.
    bool BytesAvailable(uint32_t &count);
    /// ReadFile without blocking: the bytes read (0 when none wait), or -1.
    int32_t Read(void *buffer, uint32_t size);

    /// True once the child has ended (checked without blocking).
    bool HasExited();
    ///@{

    /// GetExitCodeProcess: the child's exit status, 128 + the signal number
    /// for a child ended by a signal, 259 (STILL_ACTIVE) while it runs.
    /// False without a started child.
    bool GetExitCode(int32_t &code);
    /// STILL_ACTIVE: the exit code of a child that is still running.
    static constexpr int32_t kStillActive = 259;
    ///@}

    ///@{

    /// Whether the child was started, and its process id.
    bool started() const { return m_pid > 0; }
    int32_t processId() const { return m_pid; }
    ///@}

private:
    bool reap(bool block);

    int32_t m_pid;
    int m_readEnd;
    int m_writeEnd;
    int m_processDescriptor;  ///< pidfd, or -1 where the kernel has none
    bool m_exited;
    bool m_pipeClosed;  ///< every writer gone: the pipe reads as ended
    int32_t m_exitCode;
};

}  // namespace platform
