# The Windows build (mingw-w64, run under Wine): where its binaries go, how
# they link the compiler's runtime, and the Wine prefix its tests share.

# SharedLib.dll and every program in one folder: Windows finds a program's
# DLLs beside it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # x86-64 unwinds through the system's tables: the C++ runtime, libgcc and
  # the threads library are linked into each binary.
  add_link_options(-static)
else()
  # 32-bit x86 unwinds with DWARF tables that each copy of libgcc keeps for
  # itself, so an exception thrown in SharedLib.dll and caught by a program
  # needs the one shared libgcc (which brings the threads DLL along). The C++
  # runtime is linked into each binary; the two DLLs go beside the programs.
  add_link_options(-static-libstdc++ -shared-libgcc)
  file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  foreach(runtime_dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime_dll}
      OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
      find_file(runtime_path_found ${runtime_dll} PATHS /usr/${SHAREDLIB_MINGW_TRIPLET}/lib NO_CACHE
        NO_CMAKE_FIND_ROOT_PATH)
      set(runtime_path ${runtime_path_found})
    endif()
    if(NOT EXISTS "${runtime_path}")
      message(FATAL_ERROR "${runtime_dll} not found for ${CMAKE_CXX_COMPILER}")
    endif()
    file(COPY ${runtime_path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    install(FILES ${runtime_path} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
endif()

# GoogleTest for the target, built from Debian's sources.
if(SHAREDLIB_BUILD_TESTS AND NOT TARGET GTest::gtest)
  set(SHAREDLIB_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(sharedlib_shared_libs ${BUILD_SHARED_LIBS})
  set(BUILD_SHARED_LIBS OFF)
  add_subdirectory(${SHAREDLIB_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(BUILD_SHARED_LIBS ${sharedlib_shared_libs})
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()

# The Wine prefix the tests run in, made once by the build: its first start
# takes several seconds, which no test should count against its time limit.
if(SHAREDLIB_BUILD_TESTS AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/wineprefix/system.reg
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init
    COMMENT "Creating the Wine prefix for the tests")
  add_custom_target(wine_prefix ALL DEPENDS ${PROJECT_BINARY_DIR}/wineprefix/system.reg)
endif()
