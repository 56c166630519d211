#include "TempDirectory.h"

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
