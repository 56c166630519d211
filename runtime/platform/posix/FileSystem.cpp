#include "../FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "../DriveMap.h"
#include "../LastError.h"
#include "ErrorTranslation.h"
#include "TextDescriptors.h"

namespace platform {
namespace posix {
namespace {

std::mutex g_textLock;
std::set<int> g_textDescriptors;

}  // namespace

void MarkTextDescriptor(int descriptor, bool text)
{
    std::lock_guard<std::mutex> guard(g_textLock);
    if (text)
        g_textDescriptors.insert(descriptor);
    else
        g_textDescriptors.erase(descriptor);
}

bool IsTextDescriptor(int descriptor)
{
    std::lock_guard<std::mutex> guard(g_textLock);
    return g_textDescriptors.count(descriptor) != 0;
}

}  // namespace posix

namespace {

std::mutex g_documentsLock;
std::string g_documentsOverride;

// A Windows path that names nothing here (an unmapped drive, a network path)
// fails like a missing path.
bool hostPathFor(char const *path, std::string &host)
{
    host = HostPath(path);
    if (host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

// A write past a file-size limit must fail like a full disk, not end the
// process: the original platform has no such signal.
void ignoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGXFSZ, SIG_IGN);
    });
}

int fail()
{
    posix::SetLastSystemError(errno);
    return -1;
}

// '*' matches any run, '?' any one character; letters match either case.
bool wildcardMatch(char const *pattern, char const *name)
{
    char const *star = nullptr;
    char const *resume = nullptr;
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern != '\0' && fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

}  // namespace

int OpenFile(char const *path, int flags, int permission)
{
    std::string host;
    if (!hostPathFor(path, host))
        return -1;
    ignoreFileSizeSignal();
    int hostFlags = O_CLOEXEC;
    switch (flags & 3) {
    case O_WRONLY_: hostFlags |= O_WRONLY; break;
    case O_RDWR_: hostFlags |= O_RDWR; break;
    default: hostFlags |= O_RDONLY; break;
    }
    if (flags & O_APPEND_)
        hostFlags |= O_APPEND;
    if (flags & O_CREAT_)
        hostFlags |= O_CREAT;
    if (flags & O_TRUNC_)
        hostFlags |= O_TRUNC;
    if (flags & O_EXCL_)
        hostFlags |= O_EXCL;
    // Without _S_IWRITE the new file is read-only, as there.
    mode_t mode = (permission & S_IWRITE_) ? 0666 : 0444;
    int descriptor = ::open(host.c_str(), hostFlags, mode);
    if (descriptor < 0)
        return fail();
    posix::MarkTextDescriptor(descriptor, (flags & O_BINARY_) == 0);
    return descriptor;
}

int CloseFile(int descriptor)
{
    posix::MarkTextDescriptor(descriptor, false);
    return ::close(descriptor) == 0 ? 0 : fail();
}

int AccessPath(char const *path, int mode)
{
    std::string host;
    if (!hostPathFor(path, host))
        return -1;
    int hostMode = F_OK;
    if (mode & ACCESS_WRITE)
        hostMode |= W_OK;
    if (mode & ACCESS_READ)
        hostMode |= R_OK;
    return ::access(host.c_str(), hostMode) == 0 ? 0 : fail();
}

int MakeDirectory(char const *path)
{
    std::string host;
    if (!hostPathFor(path, host))
        return -1;
    return ::mkdir(host.c_str(), 0777) == 0 ? 0 : fail();
}

int RenamePath(char const *oldPath, char const *newPath)
{
    std::string from, to;
    if (!hostPathFor(oldPath, from) || !hostPathFor(newPath, to))
        return -1;
    // Windows never replaces an existing file on rename.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return fail();
    struct stat info;
    if (::lstat(to.c_str(), &info) == 0) {
        errno = EEXIST;
        return fail();
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : fail();
}

int RemoveFile(char const *path)
{
    std::string host;
    if (!hostPathFor(path, host))
        return -1;
    return ::remove(host.c_str()) == 0 ? 0 : fail();
}

std::vector<std::string> FindFiles(char const *pattern)
{
    std::vector<std::string> names;
    if (pattern == nullptr)
        return names;
    std::string windowsPattern = pattern;
    size_t cut = windowsPattern.find_last_of("\\/");
    std::string directory = cut == std::string::npos ? std::string(".") : windowsPattern.substr(0, cut + 1);
    std::string namePattern = cut == std::string::npos ? windowsPattern : windowsPattern.substr(cut + 1);
    if (cut != std::string::npos && cut == 1 && windowsPattern[1] == ':')
        directory = windowsPattern.substr(0, 2) + "\\";
    std::string host = HostPath(directory.c_str());
    if (host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return names;
    }
    DIR *dir = ::opendir(host.c_str());
    if (dir == nullptr) {
        fail();
        return names;
    }
    while (dirent *entry = ::readdir(dir)) {
        if (wildcardMatch(namePattern.c_str(), entry->d_name))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    if (names.empty())
        SetLastError(ERROR_FILE_NOT_FOUND);
    return names;
}

bool GetWorkingDirectory(std::string &directory)
{
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        fail();
        return false;
    }
    directory = WindowsPath(buffer);
    return true;
}

bool SetWorkingDirectory(char const *directory)
{
    std::string host;
    if (!hostPathFor(directory, host))
        return false;
    if (::chdir(host.c_str()) != 0) {
        fail();
        return false;
    }
    return true;
}

bool GetExecutablePath(std::string &path)
{
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        fail();
        return false;
    }
    buffer[length] = '\0';
    path = WindowsPath(buffer);
    return true;
}

namespace {

bool isDirectory(std::string const &hostPath)
{
    struct stat status {};
    return ::stat(hostPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The XDG_DOCUMENTS_DIR line of user-dirs.dirs ("$HOME/Papers" or an
// absolute path, in double quotes); "" when the file has none.
std::string documentsFromUserDirs(std::string const &home)
{
    char const *config = std::getenv("XDG_CONFIG_HOME");
    std::string file = config != nullptr && config[0] == '/' ? std::string(config) : home + "/.config";
    file += "/user-dirs.dirs";
    FILE *stream = std::fopen(file.c_str(), "r");
    if (stream == nullptr)
        return std::string();
    std::string found;
    char line[4096];
    while (std::fgets(line, sizeof line, stream) != nullptr) {
        char const *p = line;
        while (*p == ' ' || *p == '\t')
            ++p;
        static char const kKey[] = "XDG_DOCUMENTS_DIR=\"";
        if (std::strncmp(p, kKey, sizeof kKey - 1) != 0)
            continue;
        p += sizeof kKey - 1;
        char const *end = std::strchr(p, '"');
        if (end == nullptr)
            continue;
        std::string value(p, end);
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
            found = home + value.substr(5);
        else if (!value.empty() && value[0] == '/')
            found = value;
    }
    std::fclose(stream);
    return found;
}

}  // namespace

bool GetDocumentsFolder(std::string &directory)
{
    {
        std::lock_guard<std::mutex> guard(g_documentsLock);
        if (!g_documentsOverride.empty()) {
            directory = g_documentsOverride;
            return true;
        }
    }
    // The XDG documents folder: $XDG_DOCUMENTS_DIR, else the user-dirs.dirs
    // entry, else $HOME/Documents. A folder that does not exist is no
    // documents folder (a server account often has none), so the caller's
    // fallback applies.
    char const *home = std::getenv("HOME");
    std::string homeDirectory = home != nullptr && home[0] == '/' ? home : "";
    while (!homeDirectory.empty() && homeDirectory.back() == '/')
        homeDirectory.pop_back();  // "/" becomes "": paths below join with '/'
    bool const hasHome = home != nullptr && home[0] == '/';
    std::string host;
    char const *named = std::getenv("XDG_DOCUMENTS_DIR");
    if (named != nullptr && named[0] == '/')
        host = named;
    else if (hasHome)
        host = documentsFromUserDirs(homeDirectory);
    if (host.empty() && hasHome)
        host = homeDirectory + "/Documents";
    while (host.size() > 1 && host.back() == '/')
        host.pop_back();
    // A documents folder equal to the home folder means the user has none.
    if (host.empty() || (hasHome && host == (homeDirectory.empty() ? "/" : homeDirectory)) || !isDirectory(host)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    directory = WindowsPath(host);
    return true;
}

void SetDocumentsFolder(std::string const &windowsDirectory)
{
    std::lock_guard<std::mutex> guard(g_documentsLock);
    g_documentsOverride = windowsDirectory;
}

bool IsTerminal(int descriptor) { return ::isatty(descriptor) != 0; }

}  // namespace platform
