#include "../DriveMap.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <array>
#include <mutex>

namespace platform {
namespace {

struct DriveTable {
    std::mutex lock;
    std::array<std::string, 26> roots;
    DriveTable() { reset(); }
    void reset()
    {
        for (std::string &root : roots)
            root.clear();
        // One character appended, not a literal assigned: g++ 12 at -O3
        // warns (-Wrestrict) about the inlined copy of a literal into a
        // string that may hold text already.
        roots['z' - 'a'].push_back('/');
    }
};

DriveTable &drives()
{
    static DriveTable table;
    return table;
}

int driveIndex(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        return letter - 'a';
    if (letter >= 'A' && letter <= 'Z')
        return letter - 'A';
    return -1;
}

bool exists(std::string const &path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// The entry of directory whose name equals component without regard to
// case, or the component as written when there is none.
std::string matchIgnoringCase(std::string const &directory, std::string const &component)
{
    DIR *dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (dir == nullptr)
        return component;
    std::string found = component;
    while (dirent *entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, component.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// Joins the components one by one, looking each up without regard to case
// when it does not exist as written.
std::string resolve(std::string result, std::string const &rest)
{
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = rest.size();
        std::string component = rest.substr(start, end - start);
        bool trailing = end < rest.size();
        if (!component.empty()) {
            std::string directory = result;
            if (!result.empty() && result.back() != '/')
                result += '/';
            if (component != "." && component != ".." && !exists(result + component))
                component = matchIgnoringCase(directory.empty() ? "." : directory, component);
            result += component;
        }
        if (trailing && (result.empty() || result.back() != '/'))
            result += '/';
        start = end + 1;
    }
    return result;
}

}  // namespace

void MapDrive(char letter, std::string const &hostDirectory)
{
    int index = driveIndex(letter);
    if (index < 0)
        return;
    DriveTable &table = drives();
    std::lock_guard<std::mutex> guard(table.lock);
    std::string root = hostDirectory;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    table.roots[static_cast<size_t>(index)] = root;
}

void ResetDriveMap()
{
    DriveTable &table = drives();
    std::lock_guard<std::mutex> guard(table.lock);
    table.reset();
}

std::string HostPath(char const *windowsPath)
{
    if (windowsPath == nullptr || windowsPath[0] == '\0')
        return std::string();
    std::string path = windowsPath;
    if ((path[0] == '\\' || path[0] == '/') && path.size() > 1 && (path[1] == '\\' || path[1] == '/'))
        return std::string();  // network paths have no host equivalent
    if (path.size() >= 2 && path[1] == ':') {
        int index = driveIndex(path[0]);
        if (index < 0)
            return std::string();
        std::string root;
        {
            DriveTable &table = drives();
            std::lock_guard<std::mutex> guard(table.lock);
            root = table.roots[static_cast<size_t>(index)];
        }
        if (root.empty())
            return std::string();
        return resolve(root, path.substr(2));
    }
    if (path[0] == '\\' || path[0] == '/')
        return resolve("/", path.substr(1));
    return resolve(std::string(), path);
}

std::string WindowsPath(std::string const &hostPath)
{
    int bestIndex = -1;
    size_t bestLength = 0;
    {
        DriveTable &table = drives();
        std::lock_guard<std::mutex> guard(table.lock);
        for (size_t i = 0; i < table.roots.size(); ++i) {
            std::string const &root = table.roots[i];
            if (root.empty())
                continue;
            bool inside = root == "/" ? hostPath.rfind('/', 0) == 0
                                      : hostPath.rfind(root, 0) == 0 &&
                                            (hostPath.size() == root.size() || hostPath[root.size()] == '/');
            size_t length = root == "/" ? 0 : root.size();
            if (inside && (bestIndex < 0 || length > bestLength)) {
                bestIndex = static_cast<int>(i);
                bestLength = length;
            }
        }
    }
    if (bestIndex < 0)
        return hostPath;
    std::string result(1, static_cast<char>('a' + bestIndex));
    result += ':';
    std::string rest = hostPath.substr(bestLength);
    if (rest.empty())
        rest.push_back('/');
    for (char &c : rest)
        if (c == '/')
            c = '\\';
    // "/srv/" and "/srv" name the same directory; Windows shows no trailing
    // separator except at a drive's root.
    if (rest.size() > 1 && rest.back() == '\\')
        rest.pop_back();
    return result + rest;
}

}  // namespace platform
