#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../Export.h"

/// \file
/// The C runtime's and the system's file calls on Windows paths. Every failing
/// call sets the thread's last error (LastError.h) to the Windows code.
namespace platform {

///@{

/// _open flags and _sopen permission bits, with their runtime values.
constexpr int O_RDONLY_ = 0x0000;
constexpr int O_WRONLY_ = 0x0001;
constexpr int O_RDWR_ = 0x0002;
constexpr int O_APPEND_ = 0x0008;
constexpr int O_CREAT_ = 0x0100;
constexpr int O_TRUNC_ = 0x0200;
constexpr int O_EXCL_ = 0x0400;
constexpr int O_TEXT_ = 0x4000;
constexpr int O_BINARY_ = 0x8000;
constexpr int S_IREAD_ = 0x0100;
constexpr int S_IWRITE_ = 0x0080;
///@}

///@{

/// _access modes.
constexpr int ACCESS_EXISTS = 0;
constexpr int ACCESS_WRITE = 2;
constexpr int ACCESS_READ = 4;
///@}

///@{

/// _open: a descriptor, or -1. Text descriptors write LF as CR LF once a
/// stream is attached (FileStream).
SHAREDLIB_API int OpenFile(char const *path, int flags, int permission);
/// _close: 0, or -1.
SHAREDLIB_API int CloseFile(int descriptor);
///@}
/// _access: 0 when the path exists with the access asked for, else -1.
SHAREDLIB_API int AccessPath(char const *path, int mode);
/// _mkdir: creates the last component only; 0 or -1.
SHAREDLIB_API int MakeDirectory(char const *path);
/// rename: as on Windows, fails when the new name exists; 0 or -1.
SHAREDLIB_API int RenamePath(char const *oldPath, char const *newPath);
/// remove / _rmdir, for tools and tests.
SHAREDLIB_API int RemoveFile(char const *path);

/// _findfirst/_findnext: the names (without directory) of the entries of the
/// pattern's directory that match its last component, where '*' and '?' are
/// wild and case does not count. An unreadable directory gives no names.
SHAREDLIB_API std::vector<std::string> FindFiles(char const *pattern);

///@{

/// _getcwd and _chdir in the Windows view ("z:\srv\game").
SHAREDLIB_API bool GetWorkingDirectory(std::string &directory);
/// _chdir: changes the working directory; false when it cannot.
SHAREDLIB_API bool SetWorkingDirectory(char const *directory);
///@}
/// GetModuleFileNameA of the executable, in the Windows view.
SHAREDLIB_API bool GetExecutablePath(std::string &path);
/// SHGetFolderPathA(CSIDL_PERSONAL): the user's documents folder in the
/// Windows view. Here the XDG one: $XDG_DOCUMENTS_DIR, else its entry in
/// user-dirs.dirs, else $HOME/Documents; false (ERROR_PATH_NOT_FOUND) when
/// that folder does not exist.
SHAREDLIB_API bool GetDocumentsFolder(std::string &directory);
/// Test seam: answer this Windows directory instead ("" restores the default).
SHAREDLIB_API void SetDocumentsFolder(std::string const &windowsDirectory);

/// _isatty: whether a descriptor (0, 1 and 2 are the standard streams) is a
/// terminal or console.
SHAREDLIB_API bool IsTerminal(int descriptor);

}  // namespace platform
