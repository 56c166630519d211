#include "WindowsApi.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "../Socket.h"
#include "SocketRecords.h"
#include "../common/Common.h"

// Winsock 2. The layer's SOCKET is 32 bits wide; socket handles are kernel
// handles, which never need more (on 64-bit Windows too).
namespace platform {
namespace {


::SOCKET native(SOCKET s) { return s == INVALID_SOCKET ? win32::kInvalidNativeSocket : static_cast<::SOCKET>(s); }

int failed()
{
    win32::SetLastFromWinsock();
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

}  // namespace

namespace win32 {

bool EnsureWinsock()
{
    static int const started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0)
        SetLastError(static_cast<uint32_t>(started));
    return started == 0;
}

}  // namespace win32

SOCKET CreateSocket(int type)
{
    if (!win32::EnsureWinsock())
        return INVALID_SOCKET;
    bool stream = type == SOCK_STREAM_;
    ::SOCKET s = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP);
    if (s == win32::kInvalidNativeSocket) {
        failed();
        return INVALID_SOCKET;
    }
    // Kept out of child processes, which would otherwise hold it open.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (!stream) {
        // An ICMP "port unreachable" for an earlier datagram must not fail
        // the next receive.
        BOOL report = FALSE;
        DWORD ignored = 0;
        ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &ignored, nullptr, nullptr);
    }
    win32::NoteSocketCreated(s, stream, false);
    return static_cast<SOCKET>(s);
}

int closesocket(SOCKET s)
{
    win32::NoteSocketClosing(s);
    return ::closesocket(native(s)) == 0 ? 0 : failed();
}

int ioctlsocket(SOCKET s, long command, uint32_t *argument)
{
    if (argument == nullptr) {
        SetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (command != FIONBIO_ && command != FIONREAD_) {
        SetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    u_long value = *argument;
    if (::ioctlsocket(native(s), command, &value) != 0)
        return failed();
    *argument = static_cast<uint32_t>(value);
    return 0;
}

int BindSocket(SOCKET s, uint32_t ip, uint16_t port)
{
    sockaddr_in address = addressOf(ip, port);
    return ::bind(native(s), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 ? 0 : failed();
}

int GetSocketName(SOCKET s, uint32_t *ip, uint16_t *port)
{
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(native(s), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return failed();
    split(address, ip, port);
    return 0;
}

int ConnectSocket(SOCKET s, uint32_t ip, uint16_t port)
{
    sockaddr_in address = addressOf(ip, port);
    win32::NoteConnectStarted(s);
    if (::connect(native(s), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        win32::NoteConnected(s);
        return 0;
    }
    return failed();
}

int ListenSocket(SOCKET s, int backlog)
{
    if (::listen(native(s), backlog) != 0)
        return failed();
    win32::NoteListening(s);
    return 0;
}

SOCKET AcceptSocket(SOCKET s, uint32_t *ip, uint16_t *port)
{
    sockaddr_in address{};
    ::SOCKET accepted;
    for (;;) {
        int length = sizeof address;
        accepted = ::accept(native(s), reinterpret_cast<sockaddr *>(&address), &length);
        if (accepted != win32::kInvalidNativeSocket)
            break;
        // A connection that its peer reset or abandoned before it was
        // accepted is passed over: the listener itself is fine.
        int error = ::WSAGetLastError();
        if (error != WSAECONNRESET && error != WSAECONNABORTED && error != WSAENOTCONN)
            break;
    }
    win32::NoteInputConsumed(s, false);
    if (accepted == win32::kInvalidNativeSocket) {
        failed();
        return INVALID_SOCKET;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    // The new socket would report to the listener's event object until
    // selected on its own; it starts with no selection instead (and keeps
    // the listener's blocking mode).
    ::WSAEventSelect(accepted, nullptr, 0);
    split(address, ip, port);
    win32::NoteSocketCreated(accepted, true, true);
    return static_cast<SOCKET>(accepted);
}

int recv(SOCKET s, char *buffer, int length, int flags)
{
    int received = ::recv(native(s), buffer, length < 0 ? 0 : length, flags);
    if (received >= 0) {
        win32::NoteInputConsumed(s, received < length);
        return received;
    }
    failed();
    win32::NoteInputConsumed(s, GetLastError() == WSAEWOULDBLOCK);
    return SOCKET_ERROR;
}

int send(SOCKET s, char const *buffer, int length, int flags)
{
    int sent = ::send(native(s), buffer, length < 0 ? 0 : length, flags);
    if (sent >= 0)
        return sent;
    failed();
    if (GetLastError() == WSAEWOULDBLOCK) {
        win32::NoteSendBlocked(s);
    } else if (GetLastError() == WSAECONNRESET) {
        // A stream that was never connected is not connected, not reset.
        sockaddr_in peer{};
        int peerLength = sizeof peer;
        if (::getpeername(native(s), reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0 &&
            ::WSAGetLastError() == WSAENOTCONN)
            SetLastError(WSAENOTCONN);
    }
    return SOCKET_ERROR;
}

int SendTo(SOCKET s, char const *buffer, int length, uint32_t ip, uint16_t port)
{
    sockaddr_in address = addressOf(ip, port);
    int sent = ::sendto(native(s), buffer, length < 0 ? 0 : length, 0, reinterpret_cast<sockaddr *>(&address),
                        sizeof address);
    if (sent >= 0)
        return sent;
    failed();
    if (GetLastError() == WSAEWOULDBLOCK)
        win32::NoteSendBlocked(s);
    return SOCKET_ERROR;
}

int RecvFrom(SOCKET s, char *buffer, int length, uint32_t *ip, uint16_t *port)
{
    sockaddr_in address{};
    int addressLength = sizeof address;
    int received =
        ::recvfrom(native(s), buffer, length < 0 ? 0 : length, 0, reinterpret_cast<sockaddr *>(&address), &addressLength);
    if (received < 0) {
        failed();
        // One datagram per call: only would-block says the socket is empty.
        win32::NoteInputConsumed(s, GetLastError() == WSAEWOULDBLOCK);
        // A datagram longer than the buffer still names its sender.
        if (GetLastError() == WSAEMSGSIZE)
            split(address, ip, port);
        return SOCKET_ERROR;
    }
    win32::NoteInputConsumed(s, false);
    split(address, ip, port);
    return received;
}

int shutdown(SOCKET s, int how) { return ::shutdown(native(s), how) == 0 ? 0 : failed(); }

int setsockopt(SOCKET s, int level, int option, void const *value, int length)
{
    if (value == nullptr) {
        SetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    return ::setsockopt(native(s), level, option, static_cast<char const *>(value), length) == 0 ? 0 : failed();
}

int getsockopt(SOCKET s, int level, int option, void *value, int *length)
{
    if (value == nullptr || length == nullptr) {
        SetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    return ::getsockopt(native(s), level, option, static_cast<char *>(value), length) == 0 ? 0 : failed();
}

int ProbeConnect(SOCKET s, bool *writable, bool *exception)
{
    *writable = false;
    *exception = false;
    fd_set writeSet, exceptSet;
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    FD_SET(native(s), &writeSet);
    FD_SET(native(s), &exceptSet);
    timeval now{0, 0};
    int ready = ::select(0, nullptr, &writeSet, &exceptSet, &now);
    if (ready < 0)
        return failed();
    *writable = FD_ISSET(native(s), &writeSet) != 0;
    *exception = FD_ISSET(native(s), &exceptSet) != 0;
    if (*exception)
        *writable = false;
    if (*writable)
        win32::NoteConnected(s);
    return (*writable ? 1 : 0) + (*exception ? 1 : 0);
}

int ResolveIPv4(char const *host, uint32_t *ip)
{
    if (!win32::EnsureWinsock())
        return static_cast<int>(GetLastError());
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *results = nullptr;
    int code = ::getaddrinfo(host, "0", &hints, &results);
    uint32_t error = static_cast<uint32_t>(code);
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
    if (!win32::EnsureWinsock())
        return false;
    char buffer[256];
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
    if (!win32::EnsureWinsock())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *results = nullptr;
    int code = ::getaddrinfo(name, nullptr, &hints, &results);
    if (code != 0) {
        SetLastError(static_cast<uint32_t>(code));
        return false;
    }
    for (addrinfo *entry = results; entry != nullptr; entry = entry->ai_next)
        if (entry->ai_family == AF_INET)
            addresses.push_back(ntohl(reinterpret_cast<sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr));
    ::freeaddrinfo(results);
    return true;
}

}  // namespace platform
