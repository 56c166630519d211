#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"

/// \file
/// Winsock on this platform. Addresses and ports are passed in host byte
/// order; the layer converts at the system call. Every failing call returns
/// SOCKET_ERROR (or INVALID_SOCKET) and sets the thread's last error to the
/// Winsock code; would-block is WSAEWOULDBLOCK (10035), a normal result.
/// Sockets never raise SIGPIPE.
namespace platform {

///@{

/// A socket handle, the invalid socket and the error result of the socket calls.
using SOCKET = unsigned int;
constexpr SOCKET INVALID_SOCKET = ~0u;
constexpr int SOCKET_ERROR = -1;
///@}

///@{

/// Socket types (SOCK_STREAM, SOCK_DGRAM) with their Winsock values.
constexpr int SOCK_STREAM_ = 1;
constexpr int SOCK_DGRAM_ = 2;
///@}

///@{

/// ioctlsocket commands (FIONBIO, FIONREAD) with their Winsock values.
constexpr long FIONBIO_ = static_cast<long>(0x8004667E);
constexpr long FIONREAD_ = 0x4004667F;
///@}

///@{

/// Socket option levels and names with their Winsock values.
constexpr int SOL_SOCKET_ = 0xFFFF;
constexpr int SO_SNDBUF_ = 0x1001;
constexpr int SO_RCVBUF_ = 0x1002;
constexpr int SO_ERROR_ = 0x1007;
constexpr int SO_BROADCAST_ = 0x0020;
constexpr int SO_LINGER_ = 0x0080;
constexpr int IPPROTO_TCP_ = 6;
constexpr int TCP_NODELAY_ = 0x0001;
///@}

/// The value of SO_LINGER (struct linger): on with a time of 0 makes
/// closesocket reset the connection instead of closing it gracefully.
struct Linger {
    ///@{

    /// Whether to linger, and for how many seconds.
    uint16_t l_onoff;
    uint16_t l_linger;
    ///@}
};

///@{

/// shutdown directions.
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;
///@}

///@{

/// socket(AF_INET, type, 0): an IPv4 stream or datagram socket.
SHAREDLIB_API SOCKET CreateSocket(int type);
/// closesocket: 0, or SOCKET_ERROR.
SHAREDLIB_API int closesocket(SOCKET s);
///@}
///@{

/// ioctlsocket: FIONBIO sets non-blocking mode (*argument != 0), FIONREAD
/// reads the bytes waiting.
SHAREDLIB_API int ioctlsocket(SOCKET s, long command, uint32_t *argument);
/// bind to ip:port (host byte order): 0, or SOCKET_ERROR.
SHAREDLIB_API int BindSocket(SOCKET s, uint32_t ip, uint16_t port);
/// getsockname: the local address and port.
SHAREDLIB_API int GetSocketName(SOCKET s, uint32_t *ip, uint16_t *port);
/// connect to ip:port; a non-blocking socket fails with WSAEWOULDBLOCK while the connect is under way.
SHAREDLIB_API int ConnectSocket(SOCKET s, uint32_t ip, uint16_t port);
/// listen: 0, or SOCKET_ERROR.
SHAREDLIB_API int ListenSocket(SOCKET s, int backlog);
///@}
///@{

/// The accepted socket keeps the listener's blocking mode, as on Windows.
SHAREDLIB_API SOCKET AcceptSocket(SOCKET s, uint32_t *ip, uint16_t *port);
/// recv: the bytes read, 0 at a graceful close, or SOCKET_ERROR.
SHAREDLIB_API int recv(SOCKET s, char *buffer, int length, int flags);
/// send: the bytes written, or SOCKET_ERROR; never raises SIGPIPE.
SHAREDLIB_API int send(SOCKET s, char const *buffer, int length, int flags);
/// sendto ip:port: the bytes sent, or SOCKET_ERROR.
SHAREDLIB_API int SendTo(SOCKET s, char const *buffer, int length, uint32_t ip, uint16_t port);
///@}
///@{

/// A datagram longer than the buffer gives WSAEMSGSIZE with the buffer filled.
SHAREDLIB_API int RecvFrom(SOCKET s, char *buffer, int length, uint32_t *ip, uint16_t *port);
/// shutdown (SD_RECEIVE, SD_SEND, SD_BOTH): 0, or SOCKET_ERROR.
SHAREDLIB_API int shutdown(SOCKET s, int how);
/// setsockopt with the Winsock levels and option names: 0, or SOCKET_ERROR.
SHAREDLIB_API int setsockopt(SOCKET s, int level, int option, void const *value, int length);
/// getsockopt with the Winsock levels and option names: 0, or SOCKET_ERROR.
SHAREDLIB_API int getsockopt(SOCKET s, int level, int option, void *value, int *length);
///@}
/// select() with a zero timeout on one socket in the write and exception
/// sets: a pending connect shows as writable once made, as an exception once
/// refused. Returns the number of sets the socket is in, or SOCKET_ERROR.
SHAREDLIB_API int ProbeConnect(SOCKET s, bool *writable, bool *exception);

/// getaddrinfo for IPv4 only: 0 and the address, or the Winsock code of the
/// failure (also left as the last error).
SHAREDLIB_API int ResolveIPv4(char const *host, uint32_t *ip);
///@{

/// gethostname and gethostbyname.
SHAREDLIB_API bool GetHostName(std::string &name);
/// gethostbyname: the addresses of a host name (host byte order); false when it does not resolve.
SHAREDLIB_API bool GetHostAddresses(char const *name, std::vector<uint32_t> &addresses);
///@}
/// inet_ntoa: dotted decimal, most significant byte first.
SHAREDLIB_API std::string InetNtoa(uint32_t ip);

}  // namespace platform
