#include "GamePath.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../platform/FileSystem.h"
#include "../platform/LastError.h"
#include "Conversions.h"

namespace {

constexpr size_t kPathBufferSize = 256;  // 255 characters and the terminator
constexpr char const *kProductFolder = "Saltreach";

char g_gamePath[kPathBufferSize];
char g_parentPath[kPathBufferSize];
char g_remotePath[kPathBufferSize];
char g_outputPath[kPathBufferSize];

// A directory that does not fit is refused and the buffer kept as it was.
void store(char (&buffer)[kPathBufferSize], char const *directory)
{
    if (directory == nullptr)
        return;
    size_t length = std::strlen(directory);
    if (length >= kPathBufferSize)
        return;
    std::memcpy(buffer, directory, length + 1);
}

std::string joined(char const *directory, char const *name)
{
    std::string result = directory;
    result += '\\';
    result += name != nullptr ? name : "";
    return result;
}

bool isDrivePath(char const *path) { return path[0] != '\0' && path[1] == ':'; }
bool isNetworkPath(char const *path) { return path[0] == '\\' && path[1] == '\\'; }

bool equalIgnoringCase(char a, char b)
{
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return fold(a) == fold(b);
}

}  // namespace

void InitGamePath(bool useDocuments, char const *productFolder)
{
    std::string workingDirectory;
    if (platform::GetWorkingDirectory(workingDirectory))
        store(g_gamePath, workingDirectory.c_str());
    makeLower(g_gamePath);

    if (useDocuments) {
        std::string output;
        if (platform::GetDocumentsFolder(output))
            output = joined(output.c_str(), Kest::Orv::isSet(productFolder) ? productFolder : kProductFolder);
        else
            output = g_gamePath;
        ensureDirectoryExists(output.c_str());
        SetOutputPath(output.c_str());
    } else {
        SetOutputPath(g_gamePath);
    }

    std::memcpy(g_parentPath, g_gamePath, kPathBufferSize);
    if (char *lastSeparator = std::strrchr(g_parentPath, '\\'))
        *lastSeparator = '\0';
    std::memcpy(g_remotePath, g_gamePath, kPathBufferSize);
}

void InitRemotePath(char const *directory) { store(g_remotePath, directory); }
void SetOutputPath(char const *directory) { store(g_outputPath, directory); }

char const *GetGamePath() { return g_gamePath; }
char const *GetParentPath() { return g_parentPath; }
char const *GetRemoteGamePath() { return g_remotePath; }
char const *GetGameOutputPath() { return g_outputPath; }

std::string GetFullPath(char const *path)
{
    if (isDrivePath(path) || isNetworkPath(path))
        return path;
    return joined(g_gamePath, path);
}

std::string GetRemoteFullPath(char const *path)
{
    if (isDrivePath(path) || isNetworkPath(path))
        return path;
    return joined(g_remotePath, path);
}

std::string GetOutputPath(char const *path)
{
    if (isDrivePath(path))
        return path;
    return joined(g_outputPath, path);
}

std::string GetRelativePath(char const *path)
{
    size_t length = std::strlen(g_gamePath);
    size_t pathLength = std::strlen(path);
    if (pathLength < length)
        return path;
    for (size_t i = 0; i < length; ++i)
        if (!equalIgnoringCase(path[i], g_gamePath[i]))
            return path;
    // The game path itself has nothing below it.
    return pathLength > length ? std::string(path + length + 1) : std::string();
}

std::string MakeFullPath(char const *subDirectory, char const *fileName)
{
    std::string result = g_gamePath;
    result += '\\';
    if (subDirectory != nullptr) {
        result += subDirectory;
        result += '\\';
    }
    return result + fileName;
}

std::string MakeRemoteFullPath(char const *subDirectory, char const *fileName)
{
    std::string result = g_remotePath;
    result += '\\';
    if (subDirectory != nullptr) {
        result += subDirectory;
        result += '\\';
    }
    return result + fileName;
}

std::string MakeFullRoomPath(char const *roomName)
{
    return MakeFullPath("data\\World\\Rooms", roomName) + "\\" + roomName;
}

int32_t ForceExePath()
{
    std::string executable;
    if (!platform::GetExecutablePath(executable)) {
        std::fputs("*** --- *** Could not find the working directory", stdout);
        return static_cast<int32_t>(platform::GetLastError());
    }
    size_t cut = executable.rfind('\\');
    std::string directory = cut == std::string::npos ? executable : executable.substr(0, cut);
    // "z:" alone would name the drive's current directory; its root is meant.
    if (directory.size() == 2 && directory[1] == ':')
        directory += '\\';
    if (!platform::SetWorkingDirectory(directory.c_str())) {
        errno = platform::GetLastError() == platform::ERROR_ACCESS_DENIED ? EACCES : ENOENT;
        std::perror(directory.c_str());
        return static_cast<int32_t>(platform::GetLastError());
    }
    return 0;
}

bool ensureDirectoryExists(char const *directory)
{
    if (platform::AccessPath(directory, platform::ACCESS_WRITE) == 0)
        return true;
    return platform::MakeDirectory(directory) == 0;
}

bool hasExtension(char const *fileName, char const *extension)
{
    if (fileName == nullptr || extension == nullptr)
        return false;
    char const *dot = std::strrchr(fileName, '.');
    if (dot == nullptr)
        return false;
    char const *a = dot + 1;
    char const *b = extension;
    while (*a != '\0' && *b != '\0' && equalIgnoringCase(*a, *b)) {
        ++a;
        ++b;
    }
    return *a == '\0' && *b == '\0';
}
