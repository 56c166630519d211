#include "../Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "../LastError.h"
#include "ErrorTranslation.h"
#include "SocketRecords.h"
#include "../common/Common.h"

namespace platform {
namespace {


int fd(SOCKET s) { return static_cast<int>(s); }

int failed()
{
    posix::SetLastSocketError(errno);
    return SOCKET_ERROR;
}

sockaddr_in addressOf(uint32_t ip, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(ip);
    return address;
}

void split(sockaddr_in const &address, uint32_t *ip, uint16_t *port)
{
    if (ip != nullptr)
        *ip = ntohl(address.sin_addr.s_addr);
    if (port != nullptr)
        *port = ntohs(address.sin_port);
}

uint32_t resolverError(int code)
{
    switch (code) {
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_SERVICE: return WSAEINVAL;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
        return WSAHOST_NOT_FOUND;
    default: return WSANO_RECOVERY;
    }
}

}  // namespace

SOCKET CreateSocket(int type)
{
    bool stream = type == SOCK_STREAM_;
    int s = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (s < 0) {
        failed();
        return INVALID_SOCKET;
    }
    if (stream) {
        // Windows lets a server bind a port whose old connections linger.
        int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    posix::NoteSocketCreated(s, stream, false);
    return static_cast<SOCKET>(s);
}

int closesocket(SOCKET s)
{
    posix::NoteSocketClosing(fd(s));
    return ::close(fd(s)) == 0 ? 0 : failed();
}

int ioctlsocket(SOCKET s, long command, uint32_t *argument)
{
    if (argument == nullptr) {
        SetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (command == FIONBIO_) {
        int flags = ::fcntl(fd(s), F_GETFL);
        if (flags < 0)
            return failed();
        flags = *argument != 0 ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        return ::fcntl(fd(s), F_SETFL, flags) == 0 ? 0 : failed();
    }
    if (command == FIONREAD_) {
        int waiting = 0;
        if (::ioctl(fd(s), FIONREAD, &waiting) != 0)
            return failed();
        *argument = static_cast<uint32_t>(waiting);
        return 0;
    }
    SetLastError(WSAEINVAL);
    return SOCKET_ERROR;
}

int BindSocket(SOCKET s, uint32_t ip, uint16_t port)
{
    sockaddr_in address = addressOf(ip, port);
    return ::bind(fd(s), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 ? 0 : failed();
}

int GetSocketName(SOCKET s, uint32_t *ip, uint16_t *port)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd(s), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return failed();
    split(address, ip, port);
    return 0;
}

int ConnectSocket(SOCKET s, uint32_t ip, uint16_t port)
{
    sockaddr_in address = addressOf(ip, port);
    posix::NoteConnectStarted(fd(s));
    if (::connect(fd(s), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return 0;
    return failed();  // EINPROGRESS is would-block here
}

int ListenSocket(SOCKET s, int backlog)
{
    if (::listen(fd(s), backlog) != 0)
        return failed();
    posix::NoteListening(fd(s));
    return 0;
}

SOCKET AcceptSocket(SOCKET s, uint32_t *ip, uint16_t *port)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int listenerFlags = ::fcntl(fd(s), F_GETFL);
    int flags = SOCK_CLOEXEC | ((listenerFlags >= 0 && (listenerFlags & O_NONBLOCK)) ? SOCK_NONBLOCK : 0);
    int accepted = ::accept4(fd(s), reinterpret_cast<sockaddr *>(&address), &length, flags);
    posix::NoteInputConsumed(fd(s), false);
    if (accepted < 0) {
        failed();
        return INVALID_SOCKET;
    }
    split(address, ip, port);
    posix::NoteSocketCreated(accepted, true, true);
    return static_cast<SOCKET>(accepted);
}

int recv(SOCKET s, char *buffer, int length, int flags)
{
    ssize_t received = ::recv(fd(s), buffer, static_cast<size_t>(length < 0 ? 0 : length), flags);
    bool wouldBlock = received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    posix::NoteInputConsumed(fd(s), received >= 0 ? received < length : wouldBlock);
    return received >= 0 ? static_cast<int>(received) : failed();
}

int send(SOCKET s, char const *buffer, int length, int flags)
{
    ssize_t sent = ::send(fd(s), buffer, static_cast<size_t>(length < 0 ? 0 : length), flags | MSG_NOSIGNAL);
    if (sent >= 0)
        return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        posix::NoteSendBlocked(fd(s));
    if (errno == EPIPE) {
        // Windows tells a stream that was never connected from a broken one.
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd(s), reinterpret_cast<sockaddr *>(&peer), &length) != 0 && errno == ENOTCONN) {
            SetLastError(WSAENOTCONN);
            return SOCKET_ERROR;
        }
        errno = EPIPE;
    }
    return failed();
}

int SendTo(SOCKET s, char const *buffer, int length, uint32_t ip, uint16_t port)
{
    sockaddr_in address = addressOf(ip, port);
    ssize_t sent = ::sendto(fd(s), buffer, static_cast<size_t>(length < 0 ? 0 : length), MSG_NOSIGNAL,
                            reinterpret_cast<sockaddr *>(&address), sizeof address);
    if (sent >= 0)
        return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        posix::NoteSendBlocked(fd(s));
    return failed();
}

int RecvFrom(SOCKET s, char *buffer, int length, uint32_t *ip, uint16_t *port)
{
    sockaddr_in address{};
    socklen_t addressLength = sizeof address;
    size_t room = static_cast<size_t>(length < 0 ? 0 : length);
    ssize_t received =
        ::recvfrom(fd(s), buffer, room, MSG_TRUNC, reinterpret_cast<sockaddr *>(&address), &addressLength);
    // One datagram per call: only would-block says the socket is empty.
    posix::NoteInputConsumed(fd(s), received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    if (received < 0)
        return failed();
    split(address, ip, port);
    if (static_cast<size_t>(received) > room) {
        SetLastError(WSAEMSGSIZE);
        return SOCKET_ERROR;
    }
    return static_cast<int>(received);
}

int shutdown(SOCKET s, int how)
{
    int hostHow = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
    return ::shutdown(fd(s), hostHow) == 0 ? 0 : failed();
}

int setsockopt(SOCKET s, int level, int option, void const *value, int length)
{
    if (value != nullptr && level == SOL_SOCKET_ && option == SO_LINGER_ &&
        length >= static_cast<int>(sizeof(Linger))) {
        Linger setting{};
        std::memcpy(&setting, value, sizeof setting);
        linger hostSetting{setting.l_onoff != 0 ? 1 : 0, setting.l_linger};
        return ::setsockopt(fd(s), SOL_SOCKET, SO_LINGER, &hostSetting, sizeof hostSetting) == 0 ? 0 : failed();
    }
    if (value != nullptr && level == IPPROTO_TCP_ && option == TCP_NODELAY_ &&
        length >= static_cast<int>(sizeof(int))) {
        int setting = 0;
        std::memcpy(&setting, value, sizeof setting);
        return ::setsockopt(fd(s), IPPROTO_TCP, TCP_NODELAY, &setting, sizeof setting) == 0 ? 0 : failed();
    }
    if (level != SOL_SOCKET_ || value == nullptr || length < static_cast<int>(sizeof(int))) {
        SetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    int hostOption = option == SO_SNDBUF_ ? SO_SNDBUF : option == SO_RCVBUF_ ? SO_RCVBUF
                     : option == SO_BROADCAST_ ? SO_BROADCAST : -1;
    if (hostOption < 0) {
        SetLastError(WSAENOPROTOOPT);
        return SOCKET_ERROR;
    }
    int setting = 0;
    std::memcpy(&setting, value, sizeof setting);
    return ::setsockopt(fd(s), SOL_SOCKET, hostOption, &setting, sizeof setting) == 0 ? 0 : failed();
}

int getsockopt(SOCKET s, int level, int option, void *value, int *length)
{
    if (level != SOL_SOCKET_ || value == nullptr || length == nullptr || *length < static_cast<int>(sizeof(int))) {
        SetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    int hostOption = option == SO_SNDBUF_ ? SO_SNDBUF : option == SO_RCVBUF_ ? SO_RCVBUF
                     : option == SO_ERROR_ ? SO_ERROR : -1;
    if (hostOption < 0) {
        SetLastError(WSAENOPROTOOPT);
        return SOCKET_ERROR;
    }
    int setting = 0;
    socklen_t size = sizeof setting;
    if (::getsockopt(fd(s), SOL_SOCKET, hostOption, &setting, &size) != 0)
        return failed();
    if (hostOption == SO_ERROR)
        setting = static_cast<int>(posix::SocketErrorFromErrno(setting));
    std::memcpy(value, &setting, sizeof setting);
    *length = sizeof setting;
    return 0;
}

int ProbeConnect(SOCKET s, bool *writable, bool *exception)
{
    *writable = false;
    *exception = false;
    pollfd probe{fd(s), POLLOUT, 0};
    int ready = ::poll(&probe, 1, 0);
    if (ready < 0)
        return failed();
    if (probe.revents & POLLNVAL) {
        SetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    posix::ConnectOutcome known = posix::ConnectState(fd(s));
    if (known == posix::ConnectOutcome::Failed) {
        *exception = true;
        return 1;
    }
    if (ready == 0)
        return 0;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &error, &length);
    // A refused connect shows in the exception set, not the write set.
    if (error != 0 || (probe.revents & (POLLERR | POLLHUP))) {
        posix::NoteConnectFailed(fd(s));
        *exception = true;
        return 1;
    }
    *writable = (probe.revents & POLLOUT) != 0;
    if (*writable)
        posix::NoteConnected(fd(s));
    return *writable ? 1 : 0;
}

int ResolveIPv4(char const *host, uint32_t *ip)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *results = nullptr;
    int code = ::getaddrinfo(host, "0", &hints, &results);
    uint32_t error = code == 0 ? 0 : resolverError(code);
    if (code == 0 && (results == nullptr || results->ai_family != AF_INET ||
                      results->ai_addrlen != sizeof(sockaddr_in)))
        error = WSANO_DATA;
    if (error == 0)
        *ip = ntohl(reinterpret_cast<sockaddr_in *>(results->ai_addr)->sin_addr.s_addr);
    if (results != nullptr)
        ::freeaddrinfo(results);
    SetLastError(error);
    return static_cast<int>(error);
}

bool GetHostName(std::string &name)
{
    char buffer[1024];
    if (::gethostname(buffer, sizeof buffer) != 0) {
        failed();
        return false;
    }
    buffer[sizeof buffer - 1] = '\0';
    name = buffer;
    return true;
}

bool GetHostAddresses(char const *name, std::vector<uint32_t> &addresses)
{
    addresses.clear();
    if (common::PinnedHostAddresses(addresses))
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *results = nullptr;
    int code = ::getaddrinfo(name, nullptr, &hints, &results);
    if (code != 0) {
        SetLastError(resolverError(code));
        return false;
    }
    for (addrinfo *entry = results; entry != nullptr; entry = entry->ai_next)
        if (entry->ai_family == AF_INET)
            addresses.push_back(ntohl(reinterpret_cast<sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr));
    ::freeaddrinfo(results);
    return true;
}

}  // namespace platform
