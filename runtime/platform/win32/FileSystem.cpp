#include "WindowsApi.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "../FileSystem.h"

namespace platform {
namespace {

std::mutex g_documentsLock;
std::string g_documentsOverride;

int failed()
{
    win32::SetLastFromRuntime();
    return -1;
}

bool invalidPath(char const *path)
{
    if (path != nullptr && path[0] != '\0')
        return false;
    SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return true;
}

}  // namespace

int OpenFile(char const *path, int flags, int permission)
{
    if (invalidPath(path))
        return -1;
    // The layer's flag and permission values are the runtime's; every file
    // opened here stays out of child processes.
    int descriptor = ::_sopen(path, flags | _O_NOINHERIT, _SH_DENYNO, permission & (S_IREAD_ | S_IWRITE_));
    return descriptor >= 0 ? descriptor : failed();
}

int CloseFile(int descriptor) { return ::_close(descriptor) == 0 ? 0 : failed(); }

int AccessPath(char const *path, int mode)
{
    if (invalidPath(path))
        return -1;
    return ::_access(path, mode & (ACCESS_READ | ACCESS_WRITE)) == 0 ? 0 : failed();
}

int MakeDirectory(char const *path)
{
    if (invalidPath(path))
        return -1;
    return ::_mkdir(path) == 0 ? 0 : failed();
}

int RenamePath(char const *oldPath, char const *newPath)
{
    if (invalidPath(oldPath) || invalidPath(newPath))
        return -1;
    // Without MOVEFILE_REPLACE_EXISTING, as rename: an existing name stays.
    if (::MoveFileExA(oldPath, newPath, 0))
        return 0;
    uint32_t code = win32::SetLastFromSystem();
    if (code == ERROR_ALREADY_EXISTS)
        SetLastError(ERROR_FILE_EXISTS);
    return -1;
}

int RemoveFile(char const *path)
{
    if (invalidPath(path))
        return -1;
    DWORD attributes = ::GetFileAttributesA(path);
    bool removed = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                       ? ::RemoveDirectoryA(path)
                       : ::DeleteFileA(path);
    if (removed)
        return 0;
    win32::SetLastFromSystem();
    return -1;
}

std::vector<std::string> FindFiles(char const *pattern)
{
    std::vector<std::string> names;
    if (pattern == nullptr)
        return names;
    _finddata_t found{};
    intptr_t search = ::_findfirst(pattern, &found);
    if (search == -1) {
        uint32_t code = win32::SetLastFromRuntime();
        if (code == ERROR_NO_MORE_FILES)
            SetLastError(ERROR_FILE_NOT_FOUND);
        return names;
    }
    do
        names.emplace_back(found.name);
    while (::_findnext(search, &found) == 0);
    ::_findclose(search);
    return names;
}

bool GetWorkingDirectory(std::string &directory)
{
    char *current = ::_getcwd(nullptr, 0);
    if (current == nullptr) {
        win32::SetLastFromRuntime();
        return false;
    }
    directory = current;
    std::free(current);
    return true;
}

bool SetWorkingDirectory(char const *directory)
{
    if (invalidPath(directory))
        return false;
    if (::_chdir(directory) != 0) {
        win32::SetLastFromRuntime();
        return false;
    }
    return true;
}

bool GetExecutablePath(std::string &path)
{
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            win32::SetLastFromSystem();
            return false;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            path = buffer;
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool GetDocumentsFolder(std::string &directory)
{
    {
        std::lock_guard<std::mutex> guard(g_documentsLock);
        if (!g_documentsOverride.empty()) {
            directory = g_documentsOverride;
            return true;
        }
    }
    char folder[MAX_PATH];
    HRESULT result = ::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (result != S_OK) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    directory = folder;
    return true;
}

void SetDocumentsFolder(std::string const &windowsDirectory)
{
    std::lock_guard<std::mutex> guard(g_documentsLock);
    g_documentsOverride = windowsDirectory;
}

bool IsTerminal(int descriptor) { return ::_isatty(descriptor) != 0; }

}  // namespace platform
