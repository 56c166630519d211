#pragma once

/// \file
/// Files by descriptor and buffered streams on them.

#include <cstdio>

#include "../Export.h"

namespace platform {

/// A buffered stream on a descriptor from OpenFile (_fdopen). A stream on a
/// text descriptor writes every LF as CR LF, as the original platform does.
class SHAREDLIB_API FileStream {
public:
    /// Takes over the descriptor ("a" or "w" mode); null when it cannot.
    static FileStream *Attach(int descriptor, char const *mode);
    ~FileStream();
    FileStream(FileStream const &) = delete;
    FileStream &operator=(FileStream const &) = delete;

    ///@{

    /// fputs, for one writer at a time (the stream takes no lock of its own):
    /// false when the text could not all be written (a full disk, a
    /// file-size limit); the stream stays usable.
    bool Write(char const *text);
    /// fflush: false when the buffered text could not all be written.
    bool Flush();
    ///@}

private:
    FileStream(std::FILE *file, bool text);
    std::FILE *m_file;
    bool m_text;
};

}  // namespace platform
