#pragma once

/// \file
/// CMemoryMap: a read-only view of a whole file.

#include <cstdint>

#include "../Export.h"
#include "../platform/MemoryMapping.h"

/// A read-only view of a whole file. The file is held with no sharing for the
/// life of the object, so other openers are refused meanwhile. Construction
/// never throws: a failure is logged on Generic and leaves GetBuffer() null,
/// so test the buffer before use. An empty file is not mapped (null buffer,
/// size 0). Where the hold cannot stop another process from truncating the
/// file, the view is a snapshot of its bytes, so reading never faults.
class SHAREDLIB_API MemoryMap {
public:
    /// Maps the whole file; check GetBuffer() for failure.
    explicit MemoryMap(char const *fileName);
    ~MemoryMap();
    /// The object owns its handles; a copy would close them twice.
    MemoryMap(MemoryMap const &) = delete;
    MemoryMap &operator=(MemoryMap const &) = delete;

    /// The file's bytes (read only), or null.
    void const *GetBuffer() const { return m_view; }
    /// The file's size in bytes; 0 when the file could not be opened or sized.
    int64_t GetSize() const { return m_size; }

private:
    void const *m_view = nullptr;
    int64_t m_size = 0;
    platform::FileHandle m_file = platform::INVALID_FILE_HANDLE;
    platform::FileMapping *m_mapping = nullptr;
};
