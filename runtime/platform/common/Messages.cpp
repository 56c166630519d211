#include "Common.h"

#include <cstddef>

#include "../LastError.h"
#include "../ServiceControl.h"

namespace platform::common {
namespace {

struct MessageText {
    uint32_t code;
    char const *text;
};

// The texts the system gives for the codes the library can meet.
constexpr MessageText kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command."},
    {13, "The data is invalid."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_HANDLE_DISK_FULL, "The disk is full."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_PIPE_BUSY, "All pipe instances are busy."},
    {ERROR_PIPE_NOT_CONNECTED, "No process is on the other end of the pipe."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {1812, "The specified image file did not contain a resource section."},
    {1813, "The specified resource type cannot be found in the image file."},
    {WSAEINTR, "A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {WSAEBADF, "The file handle supplied is not valid."},
    {WSAEACCES, "An attempt was made to access a socket in a way forbidden by its access permissions."},
    {WSAEFAULT, "The system detected an invalid pointer address in attempting to use a pointer argument in a call."},
    {WSAEINVAL, "An invalid argument was supplied."},
    {WSAEMFILE, "Too many open sockets."},
    {WSAEWOULDBLOCK, "A non-blocking socket operation could not be completed immediately."},
    {WSAEINPROGRESS, "A blocking operation is currently executing."},
    {WSAEALREADY, "An operation was attempted on a non-blocking socket that already had an operation in progress."},
    {WSAENOTSOCK, "An operation was attempted on something that is not a socket."},
    {WSAEDESTADDRREQ, "A required address was omitted from an operation on a socket."},
    {WSAEMSGSIZE,
     "A message sent on a datagram socket was larger than the internal message buffer or some other network limit, "
     "or the buffer used to receive a datagram into was smaller than the datagram itself."},
    {WSAEPROTOTYPE, "A protocol was specified in the socket function call that does not support the semantics of the "
                    "socket type requested."},
    {WSAENOPROTOOPT, "An unknown, invalid, or unsupported option or level was specified in a getsockopt or "
                     "setsockopt call."},
    {WSAEPROTONOSUPPORT, "The requested protocol has not been configured into the system, or no implementation for "
                         "it exists."},
    {WSAEOPNOTSUPP, "The attempted operation is not supported for the type of object referenced."},
    {WSAEAFNOSUPPORT, "An address incompatible with the requested protocol was used."},
    {WSAEADDRINUSE, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {WSAEADDRNOTAVAIL, "The requested address is not valid in its context."},
    {WSAENETDOWN, "A socket operation encountered a dead network."},
    {WSAENETUNREACH, "A socket operation was attempted to an unreachable network."},
    {WSAENETRESET, "The connection has been broken due to keep-alive activity detecting a failure while the "
                   "operation was in progress."},
    {WSAECONNABORTED, "An established connection was aborted by the software in your host machine."},
    {WSAECONNRESET, "An existing connection was forcibly closed by the remote host."},
    {WSAENOBUFS, "An operation on a socket could not be performed because the system lacked sufficient buffer space "
                 "or because a queue was full."},
    {WSAEISCONN, "A connect request was made on an already connected socket."},
    {WSAENOTCONN, "A request to send or receive data was disallowed because the socket is not connected and (when "
                  "sending on a datagram socket using a sendto call) no address was supplied."},
    {WSAESHUTDOWN, "A request to send or receive data was disallowed because the socket had already been shut down "
                   "in that direction with a previous shutdown call."},
    {WSAETIMEDOUT, "A connection attempt failed because the connected party did not properly respond after a period "
                   "of time, or established connection failed because connected host has failed to respond."},
    {WSAECONNREFUSED, "No connection could be made because the target machine actively refused it."},
    {WSAEHOSTDOWN, "A socket operation failed because the destination host was down."},
    {WSAEHOSTUNREACH, "A socket operation was attempted to an unreachable host."},
    {WSAHOST_NOT_FOUND, "No such host is known."},
    {WSATRY_AGAIN, "This is usually a temporary error during hostname resolution and means that the local server did "
                   "not receive a response from an authoritative server."},
    {WSANO_RECOVERY, "A non-recoverable error occurred during a database lookup."},
    {WSANO_DATA, "The requested name is valid, but no data of the requested type was found."},
};

constexpr MessageText kServiceMessages[] = {
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_INVALID_SERVICE_CONTROL, "The requested control is not valid for this service."},
    {ERROR_SERVICE_ALREADY_RUNNING, "An instance of the service is already running."},
    {1057 /* ERROR_INVALID_SERVICE_ACCOUNT */,
     "The account name is invalid or does not exist, or the password is invalid for the account name specified."},
    {ERROR_SERVICE_DOES_NOT_EXIST, "The specified service does not exist as an installed service."},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "The service cannot accept control messages at this time."},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "The service process could not connect to the service controller."},
    {ERROR_SERVICE_MARKED_FOR_DELETE, "The specified service has been marked for deletion."},
    {ERROR_SERVICE_EXISTS, "The specified service already exists."},
    {ERROR_NO_SUCH_PRIVILEGE, "A specified privilege does not exist."},
    {ERROR_LOGON_FAILURE, "The user name or password is incorrect."},
    {ERROR_NONE_MAPPED, "No mapping between account names and security IDs was done."},
    {ERROR_LOGON_TYPE_NOT_GRANTED,
     "Logon failure: the user has not been granted the requested logon type at this computer."},
    {1722 /* RPC_S_SERVER_UNAVAILABLE */, "The RPC server is unavailable."},
};

template <size_t N>
char const *find(MessageText const (&table)[N], uint32_t code)
{
    for (auto const &message : table)
        if (message.code == code)
            return message.text;
    return nullptr;
}

}  // namespace

char const *KnownSystemMessage(uint32_t code) { return find(kMessages, code); }
char const *KnownServiceMessage(uint32_t code) { return find(kServiceMessages, code); }

}  // namespace platform::common

namespace platform {

std::string FormatServiceMessage(uint32_t code)
{
    if (char const *known = common::KnownServiceMessage(code))
        return std::string(known) + "\r\n";
    return FormatSystemMessage(code);
}

}  // namespace platform
