#include "WindowsApi.h"

#include <cerrno>
#include <cstdlib>

#include "../common/Common.h"

namespace platform {
namespace {

// The layer's own per-thread value: the system's is changed by too many
// successful calls (thread-local storage among them) to carry a code from a
// failing call to the caller's check.
thread_local uint32_t t_lastError = 0;

uint32_t systemErrorFromErrno(int error)
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
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EFBIG: return ERROR_DISK_FULL;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EISDIR: return ERROR_DIRECTORY;
    default: return ERROR_INVALID_PARAMETER;
    }
}

}  // namespace

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

std::string FormatSystemMessage(uint32_t code)
{
    // The codes the library meets read as they do in every build; others
    // as this system words them.
    if (char const *known = common::KnownSystemMessage(code))
        return std::string(known) + "\r\n";
    char *text = nullptr;
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                    reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr)
        ::LocalFree(text);
    return message;
}

namespace win32 {

uint32_t SetLastFromSystem()
{
    uint32_t code = ::GetLastError();
    SetLastError(code);
    return code;
}

uint32_t SetLastFromWinsock()
{
    uint32_t code = static_cast<uint32_t>(::WSAGetLastError());
    SetLastError(code);
    return code;
}

uint32_t SetLastFromRuntime()
{
    unsigned long system = _doserrno;
    int error = errno;
    // A refused exclusive create is "the file exists" whatever the runtime
    // kept; otherwise the system's own code when the runtime has one.
    uint32_t code = error == EEXIST ? ERROR_FILE_EXISTS
                    : system != 0   ? static_cast<uint32_t>(system)
                                    : systemErrorFromErrno(error);
    SetLastError(code);
    return code;
}

int FailWith(uint32_t code)
{
    SetLastError(code);
    return -1;
}

}  // namespace win32
}  // namespace platform
