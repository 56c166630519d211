#include "../NamedPipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "../LastError.h"
#include "ErrorTranslation.h"

namespace platform {
namespace {

std::mutex g_directoryLock;
std::string g_directoryOverride;

struct Pipe {
    int socket;
};

std::string pipeDirectory()
{
    std::lock_guard<std::mutex> guard(g_directoryLock);
    if (!g_directoryOverride.empty())
        return g_directoryOverride;
    char const *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
    return base + "/sharedlib-pipes-" + std::to_string(::getuid());
}

// "\\.\pipe\NAME" (either separator, any case) gives NAME; anything else "".
std::string pipeNameOf(char const *pipeName)
{
    if (pipeName == nullptr)
        return std::string();
    std::string name = pipeName;
    for (char &c : name)
        if (c == '/')
            c = '\\';
    static constexpr char kPrefix[] = "\\\\.\\pipe\\";
    constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    if (name.size() <= kPrefixLength)
        return std::string();
    for (size_t i = 0; i < kPrefixLength; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != kPrefix[i])
            return std::string();
    std::string rest = name.substr(kPrefixLength);
    for (char &c : rest)
        if (c == '\\')
            c = '_';
    return rest;
}

bool socketAddress(char const *pipeName, sockaddr_un &address, std::string &path)
{
    std::string name = pipeNameOf(pipeName);
    if (name.empty())
        return false;
    path = pipeDirectory() + "/" + name;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

void SetPipeDirectory(std::string const &hostDirectory)
{
    std::lock_guard<std::mutex> guard(g_directoryLock);
    g_directoryOverride = hostDirectory;
}

PipeHandle OpenNamedPipeForWriting(char const *pipeName)
{
    sockaddr_un address;
    std::string path;
    if (!socketAddress(pipeName, address, path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    int sock = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        posix::SetLastSystemError(errno);
        return nullptr;
    }
    if (::connect(sock, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        // No server: the pipe does not exist.
        SetLastError(errno == ECONNREFUSED || errno == ENOENT ? ERROR_FILE_NOT_FOUND
                                                             : posix::SystemErrorFromErrno(errno));
        ::close(sock);
        return nullptr;
    }
    ::shutdown(sock, SHUT_RD);
    return new Pipe{sock};
}

bool SetPipeMessageMode(PipeHandle pipe)
{
    // A sequenced-packet socket keeps message boundaries already.
    if (pipe == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

bool WritePipe(PipeHandle pipe, void const *data, uint32_t size, uint32_t *written)
{
    if (written != nullptr)
        *written = 0;
    if (pipe == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    ssize_t sent = ::send(static_cast<Pipe *>(pipe)->socket, data, size, MSG_NOSIGNAL);
    if (sent < 0) {
        SetLastError(errno == EPIPE || errno == ECONNRESET ? ERROR_BROKEN_PIPE : posix::SystemErrorFromErrno(errno));
        return false;
    }
    if (written != nullptr)
        *written = static_cast<uint32_t>(sent);
    return true;
}

void ClosePipe(PipeHandle pipe)
{
    if (pipe == nullptr)
        return;
    ::close(static_cast<Pipe *>(pipe)->socket);
    delete static_cast<Pipe *>(pipe);
}

NamedPipeServer::NamedPipeServer(char const *pipeName) : m_listener(-1), m_client(-1)
{
    sockaddr_un address;
    if (!socketAddress(pipeName, address, m_path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    ::mkdir(pipeDirectory().c_str(), 0700);
    ::unlink(m_path.c_str());
    int sock = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        posix::SetLastSystemError(errno);
        return;
    }
    if (::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(sock, 4) != 0) {
        posix::SetLastSystemError(errno);
        ::close(sock);
        return;
    }
    m_listener = sock;
}

NamedPipeServer::~NamedPipeServer()
{
    if (m_client >= 0)
        ::close(m_client);
    if (m_listener >= 0) {
        ::close(m_listener);
        ::unlink(m_path.c_str());
    }
}

bool NamedPipeServer::ReadMessage(std::string &message, int timeoutMs)
{
    if (m_listener < 0)
        return false;
    if (m_client < 0) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, timeoutMs) <= 0)
            return false;
        m_client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_client < 0)
            return false;
    }
    pollfd reading{m_client, POLLIN, 0};
    if (::poll(&reading, 1, timeoutMs) <= 0)
        return false;
    char buffer[65536];
    ssize_t received = ::recv(m_client, buffer, sizeof buffer, 0);
    if (received <= 0)
        return false;
    message.assign(buffer, static_cast<size_t>(received));
    return true;
}

}  // namespace platform
