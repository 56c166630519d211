# 64-bit Windows on x86-64 with Debian's mingw-w64 cross compiler (the -posix
# driver, so std::thread and std::mutex work). Programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(SHAREDLIB_MINGW_TRIPLET x86_64-w64-mingw32)
set(SHAREDLIB_WINE_LAUNCHER /usr/lib/wine/wine64 CACHE FILEPATH "Wine's launcher for 64-bit programs")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
