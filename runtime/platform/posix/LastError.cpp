#include <cerrno>

#include "../LastError.h"
#include "ErrorTranslation.h"

namespace platform {
namespace {

thread_local uint32_t t_lastError = 0;

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

}  // namespace

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

std::string FormatSystemMessage(uint32_t code)
{
    for (auto const &message : kMessages)
        if (message.code == code)
            return std::string(message.text) + "\r\n";
    return std::string();
}

namespace posix {

uint32_t SystemErrorFromErrno(int error)
{
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return ERROR_DISK_FULL;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ECONNREFUSED: return ERROR_PIPE_BUSY;
    case EISDIR: return ERROR_DIRECTORY;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_INVALID_PARAMETER;
    }
}

uint32_t SocketErrorFromErrno(int error)
{
    switch (error) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF:
    case ENOTSOCK: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN:
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

uint32_t SetLastSystemError(int error)
{
    uint32_t code = SystemErrorFromErrno(error);
    SetLastError(code);
    return code;
}

uint32_t SetLastSocketError(int error)
{
    uint32_t code = SocketErrorFromErrno(error);
    SetLastError(code);
    return code;
}

}  // namespace posix
}  // namespace platform
