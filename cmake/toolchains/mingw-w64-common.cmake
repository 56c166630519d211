# Shared part of the mingw-w64 toolchain files: compilers, the target's
# search roots, and Wine as the emulator that runs what the build produces.
set(CMAKE_C_COMPILER ${SHAREDLIB_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SHAREDLIB_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SHAREDLIB_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SHAREDLIB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program the build runs (tests, the demo, the tool) runs under Wine in
# a prefix of this build directory's own, without Wine's debug chatter.
set(CMAKE_CROSSCOMPILING_EMULATOR
  /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all ${SHAREDLIB_WINE_LAUNCHER})
