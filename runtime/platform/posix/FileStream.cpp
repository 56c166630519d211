#include "../FileStream.h"

#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ErrorTranslation.h"
#include "TextDescriptors.h"

namespace platform {

FileStream::FileStream(std::FILE *file, bool text) : m_file(file), m_text(text) {}

FileStream *FileStream::Attach(int descriptor, char const *mode)
{
    std::FILE *file = ::fdopen(descriptor, mode);
    if (file == nullptr) {
        posix::SetLastSystemError(errno);
        return nullptr;
    }
    bool text = posix::IsTextDescriptor(descriptor);
    posix::MarkTextDescriptor(descriptor, false);
    return new FileStream(file, text);
}

FileStream::~FileStream()
{
    std::fclose(m_file);
}

bool FileStream::Write(char const *text)
{
    // Callers serialise their writes, so the stream's own lock is not taken.
    size_t remaining = std::strlen(text);
    bool written = true;
    while (remaining > 0) {
        char const *lineEnd = m_text ? static_cast<char const *>(std::memchr(text, '\n', remaining)) : nullptr;
        size_t length = lineEnd != nullptr ? static_cast<size_t>(lineEnd - text) : remaining;
        if (length > 0 && ::fwrite_unlocked(text, 1, length, m_file) != length)
            written = false;
        if (lineEnd == nullptr)
            break;
        // Text mode: every LF goes out as CR LF.
        if (::fwrite_unlocked("\r\n", 1, 2, m_file) != 2)
            written = false;
        text = lineEnd + 1;
        remaining -= length + 1;
    }
    if (!written) {
        posix::SetLastSystemError(errno);
        std::clearerr(m_file);
    }
    return written;
}

bool FileStream::Flush()
{
    if (std::fflush(m_file) == 0)
        return true;
    posix::SetLastSystemError(errno);
    std::clearerr(m_file);
    return false;
}

}  // namespace platform
