#pragma once

// The Windows and Winsock headers as this backend sees them. Many of the
// layer's own constants and enumerators share their names with macros of
// these headers (ERROR_SUCCESS, FD_READ, WAIT_TIMEOUT, SERVICE_RUNNING,
// CreateService, ...). The layer's constants carry the same values, so the
// macros are taken away here, before any header of the layer is read, and
// the backend's sources use the layer's names. Every source of this backend
// includes this header first.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mstcpip.h>
#include <ntsecapi.h>
#include <shlobj.h>
#include <winsvc.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

// Winsock's invalid socket, kept under a name of its own.
namespace platform::win32 {
constexpr ::SOCKET kInvalidNativeSocket = INVALID_SOCKET;
}


#undef ChangeServiceConfig
#undef ChangeServiceConfig2
#undef CreateFileMapping
#undef CreateService
#undef DELETE
#undef ERROR_ACCESS_DENIED
#undef ERROR_ALREADY_EXISTS
#undef ERROR_BROKEN_PIPE
#undef ERROR_DIRECTORY
#undef ERROR_DIR_NOT_EMPTY
#undef ERROR_DISK_FULL
#undef ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
#undef ERROR_FILENAME_EXCED_RANGE
#undef ERROR_FILE_EXISTS
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_HANDLE_DISK_FULL
#undef ERROR_INSUFFICIENT_BUFFER
#undef ERROR_INVALID_HANDLE
#undef ERROR_INVALID_NAME
#undef ERROR_INVALID_PARAMETER
#undef ERROR_INVALID_SERVICE_CONTROL
#undef ERROR_LOGON_FAILURE
#undef ERROR_LOGON_TYPE_NOT_GRANTED
#undef ERROR_NONE_MAPPED
#undef ERROR_NOT_ENOUGH_MEMORY
#undef ERROR_NOT_SUPPORTED
#undef ERROR_NO_SUCH_PRIVILEGE
#undef ERROR_PATH_NOT_FOUND
#undef ERROR_PIPE_BUSY
#undef ERROR_PIPE_NOT_CONNECTED
#undef ERROR_SERVICE_ALREADY_RUNNING
#undef ERROR_SERVICE_CANNOT_ACCEPT_CTRL
#undef ERROR_SERVICE_DOES_NOT_EXIST
#undef ERROR_SERVICE_EXISTS
#undef ERROR_SERVICE_MARKED_FOR_DELETE
#undef ERROR_SHARING_VIOLATION
#undef ERROR_SUCCESS
#undef ERROR_TOO_MANY_OPEN_FILES
#undef FD_ACCEPT
#undef FD_ADDRESS_LIST_CHANGE
#undef FD_CLOSE
#undef FD_CONNECT
#undef FD_GROUP_QOS
#undef FD_MAX_EVENTS
#undef FD_OOB
#undef FD_QOS
#undef FD_READ
#undef FD_ROUTING_INTERFACE_CHANGE
#undef FD_WRITE
#undef GENERIC_ALL
#undef GENERIC_WRITE
#undef IDCANCEL
#undef IDNO
#undef IDOK
#undef IDYES
#undef INFINITE
#undef INVALID_SOCKET
#undef LOGON32_LOGON_INTERACTIVE
#undef LOGON32_LOGON_SERVICE
#undef LOGON32_PROVIDER_DEFAULT
#undef LogonUser
#undef LookupAccountName
#undef MB_ICONERROR
#undef MB_ICONINFORMATION
#undef MB_ICONQUESTION
#undef MB_ICONWARNING
#undef MB_OK
#undef MB_OKCANCEL
#undef MB_SERVICE_NOTIFICATION
#undef MB_YESNO
#undef MB_YESNOCANCEL
#undef MONITOR_DEFAULTTONEAREST
#undef MONITOR_DEFAULTTONULL
#undef MONITOR_DEFAULTTOPRIMARY
#undef OpenSCManager
#undef OpenService
#undef POLICY_CREATE_ACCOUNT
#undef POLICY_LOOKUP_NAMES
#undef READ_CONTROL
#undef RegisterServiceCtrlHandler
#undef SC_MANAGER_ALL_ACCESS
#undef SC_MANAGER_CONNECT
#undef SC_MANAGER_CREATE_SERVICE
#undef SC_MANAGER_MODIFY_BOOT_CONFIG
#undef SD_BOTH
#undef SD_RECEIVE
#undef SD_SEND
#undef SERVICE_ACCEPT_SHUTDOWN
#undef SERVICE_ACCEPT_STOP
#undef SERVICE_ALL_ACCESS
#undef SERVICE_AUTO_START
#undef SERVICE_CHANGE_CONFIG
#undef SERVICE_CONFIG_FAILURE_ACTIONS
#undef SERVICE_CONTROL_INTERROGATE
#undef SERVICE_CONTROL_SHUTDOWN
#undef SERVICE_CONTROL_STOP
#undef SERVICE_DEMAND_START
#undef SERVICE_ERROR_NORMAL
#undef SERVICE_NO_CHANGE
#undef SERVICE_RUNNING
#undef SERVICE_START
#undef SERVICE_START_PENDING
#undef SERVICE_STOP
#undef SERVICE_STOPPED
#undef SERVICE_STOP_PENDING
#undef SERVICE_WIN32
#undef SERVICE_WIN32_OWN_PROCESS
#undef SERVICE_WIN32_SHARE_PROCESS
#undef SM_CMONITORS
#undef SM_CXSCREEN
#undef SM_CYSCREEN
#undef SOCKET_ERROR
#undef STATUS_INVALID_HANDLE
#undef STATUS_INVALID_PARAMETER
#undef StartServiceCtrlDispatcher
#undef WAIT_FAILED
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT
#undef WSAEACCES
#undef WSAEADDRINUSE
#undef WSAEADDRNOTAVAIL
#undef WSAEAFNOSUPPORT
#undef WSAEALREADY
#undef WSAEBADF
#undef WSAECONNABORTED
#undef WSAECONNREFUSED
#undef WSAECONNRESET
#undef WSAEDESTADDRREQ
#undef WSAEFAULT
#undef WSAEHOSTDOWN
#undef WSAEHOSTUNREACH
#undef WSAEINPROGRESS
#undef WSAEINTR
#undef WSAEINVAL
#undef WSAEISCONN
#undef WSAEMFILE
#undef WSAEMSGSIZE
#undef WSAENETDOWN
#undef WSAENETRESET
#undef WSAENETUNREACH
#undef WSAENOBUFS
#undef WSAENOPROTOOPT
#undef WSAENOTCONN
#undef WSAENOTSOCK
#undef WSAEOPNOTSUPP
#undef WSAEPROTONOSUPPORT
#undef WSAEPROTOTYPE
#undef WSAESHUTDOWN
#undef WSAETIMEDOUT
#undef WSAEVENT
#undef WSAEWOULDBLOCK
#undef WSAHOST_NOT_FOUND
#undef WSANO_DATA
#undef WSANO_RECOVERY
#undef WSATRY_AGAIN

#include <cstdint>

// The layer's declarations whose names the macros above took: their
// constants are the ones the backend uses.
#include "../LastError.h"
#include "../MessageBox.h"
#include "../ServiceControl.h"
#include "../Socket.h"
#include "../SocketEvents.h"
#include "../System.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace platform::win32 {

// Kernel handles need no more than 32 bits, on 64-bit Windows too, so they
// travel in the layer's int-sized handle fields: truncated on the way in,
// sign-extended on the way out (INVALID_HANDLE_VALUE stays -1).
inline int HandleToInt(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
inline HANDLE IntToHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

// The thread's last error from the system's (GetLastError) or Winsock's
// (WSAGetLastError) own; returns it.
uint32_t SetLastFromSystem();
uint32_t SetLastFromWinsock();
// After a failed C runtime call: the system code the runtime kept
// (_doserrno), else one that matches errno.
uint32_t SetLastFromRuntime();
// Sets the last error to code and returns -1 (for the runtime-style calls).
int FailWith(uint32_t code);

// Starts Winsock once for the process (WSAStartup 2.2).
bool EnsureWinsock();

}  // namespace platform::win32
