#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test. windows() gives the same
// directory as the library sees it (through the z: drive).
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(TempDirectory const &) = delete;
    TempDirectory &operator=(TempDirectory const &) = delete;

    std::filesystem::path const &host() const { return m_path; }
    std::string windows() const;
    // The Windows path of a name inside the directory.
    std::string windows(std::string const &name) const { return windows() + "\\" + name; }

private:
    std::filesystem::path m_path;
};

// The whole content of a host file, bytes as they are.
std::string ReadHostFile(std::filesystem::path const &path);

// The names of the entries of a host directory, sorted.
std::vector<std::string> FilesIn(std::filesystem::path const &directory);
