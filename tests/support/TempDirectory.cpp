#include "TempDirectory.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>

#include <SharedLib/platform/Process.h>

TempDirectory::TempDirectory()
{
    static std::atomic<int> counter{0};
    m_path = std::filesystem::temp_directory_path() /
             ("sharedlib-test-" + std::to_string(platform::GetCurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
}

TempDirectory::~TempDirectory()
{
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDirectory::windows() const
{
    // A host path without a drive of its own is reached through z:.
    std::string result = m_path.has_root_name() ? "" : "z:";
    for (char c : m_path.string())
        result += c == '/' ? '\\' : c;
    return result;
}

std::string ReadHostFile(std::filesystem::path const &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> FilesIn(std::filesystem::path const &directory)
{
    std::vector<std::string> names;
    for (auto const &entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
