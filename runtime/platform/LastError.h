#pragma once

/// \file
/// The thread's last error and the Windows error codes.

#include <cstdint>
#include <string>

#include "../Export.h"

namespace platform {

///@{

/// Windows error codes the library can meet, with their Windows values.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_HANDLE_DISK_FULL = 39;
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_BROKEN_PIPE = 109;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr uint32_t ERROR_PIPE_BUSY = 231;
constexpr uint32_t ERROR_DIRECTORY = 267;
constexpr uint32_t ERROR_PIPE_NOT_CONNECTED = 233;
///@}

///@{

/// Winsock codes.
constexpr uint32_t WSAEINTR = 10004;
constexpr uint32_t WSAEBADF = 10009;
constexpr uint32_t WSAEACCES = 10013;
constexpr uint32_t WSAEFAULT = 10014;
constexpr uint32_t WSAEINVAL = 10022;
constexpr uint32_t WSAEMFILE = 10024;
constexpr uint32_t WSAEWOULDBLOCK = 10035;
constexpr uint32_t WSAEINPROGRESS = 10036;
constexpr uint32_t WSAEALREADY = 10037;
constexpr uint32_t WSAENOTSOCK = 10038;
constexpr uint32_t WSAEDESTADDRREQ = 10039;
constexpr uint32_t WSAEMSGSIZE = 10040;
constexpr uint32_t WSAEPROTOTYPE = 10041;
constexpr uint32_t WSAENOPROTOOPT = 10042;
constexpr uint32_t WSAEPROTONOSUPPORT = 10043;
constexpr uint32_t WSAEOPNOTSUPP = 10045;
constexpr uint32_t WSAEAFNOSUPPORT = 10047;
constexpr uint32_t WSAEADDRINUSE = 10048;
constexpr uint32_t WSAEADDRNOTAVAIL = 10049;
constexpr uint32_t WSAENETDOWN = 10050;
constexpr uint32_t WSAENETUNREACH = 10051;
constexpr uint32_t WSAENETRESET = 10052;
constexpr uint32_t WSAECONNABORTED = 10053;
constexpr uint32_t WSAECONNRESET = 10054;
constexpr uint32_t WSAENOBUFS = 10055;
constexpr uint32_t WSAEISCONN = 10056;
constexpr uint32_t WSAENOTCONN = 10057;
constexpr uint32_t WSAESHUTDOWN = 10058;
constexpr uint32_t WSAETIMEDOUT = 10060;
constexpr uint32_t WSAECONNREFUSED = 10061;
constexpr uint32_t WSAEHOSTDOWN = 10064;
constexpr uint32_t WSAEHOSTUNREACH = 10065;
constexpr uint32_t WSAHOST_NOT_FOUND = 11001;
constexpr uint32_t WSATRY_AGAIN = 11002;
constexpr uint32_t WSANO_RECOVERY = 11003;
constexpr uint32_t WSANO_DATA = 11004;
///@}

///@{

/// The calling thread's last error, set by every failing call of this layer.
SHAREDLIB_API uint32_t GetLastError();
/// Sets the calling thread's last error.
SHAREDLIB_API void SetLastError(uint32_t code);
///@}
///@{

/// Winsock's name for the same per-thread value.
inline uint32_t WSAGetLastError() { return GetLastError(); }
/// Winsock's name for SetLastError.
inline void WSASetLastError(uint32_t code) { SetLastError(code); }
///@}

/// The system's message for a code as FormatMessage gives it: one sentence
/// ending with CR LF; empty for a code without text.
SHAREDLIB_API std::string FormatSystemMessage(uint32_t code);

}  // namespace platform
