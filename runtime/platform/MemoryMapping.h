#pragma once

#include <cstdint>

#include "../Export.h"

/// \file
/// Read-only views of whole files. A file opened here is held with no
/// sharing: while it is open, a second open of the same file through this
/// layer fails with ERROR_SHARING_VIOLATION. Every failing call sets the
/// thread's last error (LastError.h) to the Windows code.
namespace platform {

///@{

/// A file held for mapping; INVALID_FILE_HANDLE when none.
using FileHandle = int;
/// The handle of no file.
constexpr FileHandle INVALID_FILE_HANDLE = -1;
///@}

/// A read-only mapping of a whole file (the file-mapping object); it does not
/// own the file, which must stay open while the mapping exists.
class FileMapping;

/// CreateFileA(path, GENERIC_READ, share mode 0, OPEN_EXISTING): opens an
/// existing file of a Windows path for reading. A directory is refused with
/// ERROR_ACCESS_DENIED.
SHAREDLIB_API FileHandle OpenFileForMapping(char const *path);
/// GetFileSizeEx: the file's size in bytes.
SHAREDLIB_API bool GetFileSize(FileHandle file, int64_t *size);
/// CreateFileMappingA(file, PAGE_READONLY, size 0): a mapping of the whole
/// file as it is now, or null. An empty file cannot be mapped.
SHAREDLIB_API FileMapping *CreateFileMapping(FileHandle file);
/// MapViewOfFile(mapping, FILE_MAP_READ, offset 0, length 0): the address of
/// a read-only view of the whole mapping, or null. Reading it never faults,
/// even when someone truncates the file meanwhile.
SHAREDLIB_API void const *MapViewOfFile(FileMapping *mapping);
/// UnmapViewOfFile: releases a view returned by MapViewOfFile.
SHAREDLIB_API bool UnmapViewOfFile(void const *view);
///@{

/// CloseHandle for the two kinds of handle. Closing the file releases its hold.
SHAREDLIB_API bool CloseFileMapping(FileMapping *mapping);
/// Closes a file opened for mapping, releasing its hold.
SHAREDLIB_API bool CloseMappedFile(FileHandle file);
///@}

}  // namespace platform
