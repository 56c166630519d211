#pragma once

#include <cstdint>
#include <string>

#include "../Export.h"

/// \file
/// The four process-wide directories every program finds its files by: the
/// game path (the working directory at start-up, lower-cased), its parent, the
/// remote path (a second tree, by default the game path) and the output path
/// (where the program writes, logs included). All are Windows paths of at most
/// 255 characters, without a trailing backslash.

///@{

/// Fixes all four from the working directory; with useDocuments the output
/// path is the user's documents folder and the product folder below it.
SHAREDLIB_API void InitGamePath(bool useDocuments, char const *productFolder);
/// Sets the remote path.
SHAREDLIB_API void InitRemotePath(char const *directory);
/// Sets the output path.
SHAREDLIB_API void SetOutputPath(char const *directory);
///@}

///@{

/// The game path, its parent, the remote path and the output path, as fixed by InitGamePath.
SHAREDLIB_API char const *GetGamePath();
SHAREDLIB_API char const *GetParentPath();
SHAREDLIB_API char const *GetRemoteGamePath();
SHAREDLIB_API char const *GetGameOutputPath();
///@}

///@{

/// Drive and network paths come back unchanged; others are joined to the game
/// (remote, output) path with one backslash.
SHAREDLIB_API std::string GetFullPath(char const *path);
SHAREDLIB_API std::string GetRemoteFullPath(char const *path);
SHAREDLIB_API std::string GetOutputPath(char const *path);
///@}
///@{

/// The part of a path below the game path, in the argument's case.
SHAREDLIB_API std::string GetRelativePath(char const *path);
/// The game path, subDirectory (left out when null) and fileName joined with backslashes.
SHAREDLIB_API std::string MakeFullPath(char const *subDirectory, char const *fileName);
/// The remote path, subDirectory (left out when null) and fileName joined with backslashes.
SHAREDLIB_API std::string MakeRemoteFullPath(char const *subDirectory, char const *fileName);
///@}
/// Each room lives in a directory of its own name below "data\World\Rooms".
SHAREDLIB_API std::string MakeFullRoomPath(char const *roomName);

/// Makes the executable's directory the working directory: 0, or a Windows
/// error code.
SHAREDLIB_API int32_t ForceExePath();
/// True when the directory exists and is writable, or could be created (the
/// last component only).
SHAREDLIB_API bool ensureDirectoryExists(char const *directory);
/// Compares the text after the last '.' with the extension (given without its
/// dot), ignoring case.
SHAREDLIB_API bool hasExtension(char const *fileName, char const *extension);
