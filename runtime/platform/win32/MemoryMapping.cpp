#include "WindowsApi.h"

#include "../MemoryMapping.h"

// The system's own files and file mappings. A mapping handle travels as the
// layer's FileMapping pointer, a file handle in its int-sized FileHandle.
namespace platform {
namespace {

HANDLE fileOf(FileHandle file) { return win32::IntToHandle(file); }
HANDLE mappingOf(FileMapping *mapping) { return reinterpret_cast<HANDLE>(mapping); }

}  // namespace

FileHandle OpenFileForMapping(char const *path)
{
    if (path == nullptr || path[0] == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_HANDLE;
    }
    // No sharing; a directory cannot be opened this way (access denied).
    HANDLE file = ::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        win32::SetLastFromSystem();
        return INVALID_FILE_HANDLE;
    }
    return win32::HandleToInt(file);
}

bool GetFileSize(FileHandle file, int64_t *size)
{
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    LARGE_INTEGER length;
    if (file == INVALID_FILE_HANDLE || !::GetFileSizeEx(fileOf(file), &length)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *size = length.QuadPart;
    return true;
}

FileMapping *CreateFileMapping(FileHandle file)
{
    int64_t size = 0;
    if (!GetFileSize(file, &size))
        return nullptr;
    if (size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);  // an empty file has nothing to map
        return nullptr;
    }
    HANDLE mapping = ::CreateFileMappingA(fileOf(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        win32::SetLastFromSystem();
        return nullptr;
    }
    return reinterpret_cast<FileMapping *>(mapping);
}

void const *MapViewOfFile(FileMapping *mapping)
{
    if (mapping == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void const *view = ::MapViewOfFile(mappingOf(mapping), FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr)
        win32::SetLastFromSystem();
    return view;
}

bool UnmapViewOfFile(void const *view)
{
    if (view != nullptr && ::UnmapViewOfFile(view))
        return true;
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

bool CloseFileMapping(FileMapping *mapping)
{
    if (mapping != nullptr && ::CloseHandle(mappingOf(mapping)))
        return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

bool CloseMappedFile(FileHandle file)
{
    if (file != INVALID_FILE_HANDLE && ::CloseHandle(fileOf(file)))
        return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

}  // namespace platform
