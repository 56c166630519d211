#include "WindowsApi.h"

#include <cstdio>
#include <cstring>

#include "../FileStream.h"

// The C runtime's streams: a stream on a text descriptor writes LF as CR LF
// by itself.
namespace platform {

FileStream::FileStream(std::FILE *file, bool text) : m_file(file), m_text(text) {}

FileStream *FileStream::Attach(int descriptor, char const *mode)
{
    std::FILE *file = ::_fdopen(descriptor, mode);
    if (file == nullptr) {
        win32::SetLastFromRuntime();
        return nullptr;
    }
    return new FileStream(file, false);
}

FileStream::~FileStream() { std::fclose(m_file); }

bool FileStream::Write(char const *text)
{
    size_t length = std::strlen(text);
    if (length == 0 || std::fwrite(text, 1, length, m_file) == length)
        return true;
    win32::SetLastFromRuntime();
    std::clearerr(m_file);
    return false;
}

bool FileStream::Flush()
{
    if (std::fflush(m_file) == 0)
        return true;
    win32::SetLastFromRuntime();
    std::clearerr(m_file);
    return false;
}

}  // namespace platform
