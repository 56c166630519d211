# 32-bit Windows on x86 with Debian's mingw-w64 cross compiler (the -posix
# driver, so std::thread and std::mutex work). Programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SHAREDLIB_MINGW_TRIPLET i686-w64-mingw32)
set(SHAREDLIB_WINE_LAUNCHER /usr/lib/wine/wine CACHE FILEPATH "Wine's launcher for 32-bit programs")
# Single-precision arithmetic in SSE registers, as on the other targets: the
# x87 unit's wider intermediates would round differently.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
