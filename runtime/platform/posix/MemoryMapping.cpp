#include "../MemoryMapping.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "../DriveMap.h"
#include "../LastError.h"
#include "ErrorTranslation.h"

namespace platform {

class FileMapping {
public:
    FileMapping(int descriptor, size_t length) : m_descriptor(descriptor), m_length(length) {}
    int descriptor() const { return m_descriptor; }
    size_t length() const { return m_length; }

private:
    int m_descriptor;
    size_t m_length;
};

namespace {

// The length of every live view, so that a view is released by its address
// alone.
std::mutex g_viewsLock;
std::map<void const *, size_t> g_views;

bool failWithErrno()
{
    posix::SetLastSystemError(errno);
    return false;
}

}  // namespace

FileHandle OpenFileForMapping(char const *path)
{
    std::string host = HostPath(path);
    if (host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_HANDLE;
    }
    // Non-blocking so that a FIFO without a writer cannot hold the caller.
    int descriptor = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        failWithErrno();
        return INVALID_FILE_HANDLE;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        int error = errno;
        ::close(descriptor);
        posix::SetLastSystemError(error);
        return INVALID_FILE_HANDLE;
    }
    if (S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_HANDLE;
    }
    // No sharing: an exclusive hold that every other open through this layer
    // (in this process or another) is refused by.
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        int error = errno;
        ::close(descriptor);
        if (error == EWOULDBLOCK)
            SetLastError(ERROR_SHARING_VIOLATION);
        else
            posix::SetLastSystemError(error);
        return INVALID_FILE_HANDLE;
    }
    return descriptor;
}

bool GetFileSize(FileHandle file, int64_t *size)
{
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    struct stat status {};
    if (file < 0 || ::fstat(file, &status) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *size = static_cast<int64_t>(status.st_size);
    return true;
}

FileMapping *CreateFileMapping(FileHandle file)
{
    int64_t size = 0;
    if (!GetFileSize(file, &size))
        return nullptr;
    if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX) {
        SetLastError(size <= 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    FileMapping *mapping = new (std::nothrow) FileMapping(file, static_cast<size_t>(size));
    if (mapping == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return mapping;
}

void const *MapViewOfFile(FileMapping *mapping)
{
    if (mapping == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // The view is a private snapshot, not a shared mapping of the file. On
    // Windows nobody can shrink a file while it is mapped; here the hold is
    // only advisory, and a shared mapping of a file that anyone truncates
    // raises SIGBUS at the next read of a page past the new end. So the
    // file's bytes are read into anonymous memory, which is then made read
    // only: a truncation or rewrite never reaches the reader, at the price
    // of one copy of the file in memory and the time to read it once.
    size_t const length = mapping->length();
    void *view = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (view == MAP_FAILED) {
        failWithErrno();
        return nullptr;
    }
    // A file that shrank since it was sized leaves zeros after its end.
    for (size_t done = 0; done < length;) {
        ssize_t const got = ::pread(mapping->descriptor(), static_cast<char *>(view) + done, length - done,
                                    static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            int const error = errno;
            ::munmap(view, length);
            posix::SetLastSystemError(error);
            return nullptr;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    if (::mprotect(view, length, PROT_READ) != 0) {
        int const error = errno;
        ::munmap(view, length);
        posix::SetLastSystemError(error);
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> guard(g_viewsLock);
        g_views[view] = mapping->length();
    } catch (std::bad_alloc const &) {
        ::munmap(view, mapping->length());
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return view;
}

bool UnmapViewOfFile(void const *view)
{
    size_t length = 0;
    {
        std::lock_guard<std::mutex> guard(g_viewsLock);
        auto found = g_views.find(view);
        if (found == g_views.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        length = found->second;
        g_views.erase(found);
    }
    if (::munmap(const_cast<void *>(view), length) != 0)
        return failWithErrno();
    return true;
}

bool CloseFileMapping(FileMapping *mapping)
{
    if (mapping == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    delete mapping;
    return true;
}

bool CloseMappedFile(FileHandle file)
{
    if (file < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // Closing the last descriptor of the open file also drops its hold.
    if (::close(file) != 0 && errno != EINTR)
        return failWithErrno();
    return true;
}

}  // namespace platform
