# The package an operator installs: `cpack -G DEB` in the build directory
# makes a Debian package of everything the install rules install (the
# library, its headers, its CMake and pkg-config files, sharedtool and the
# dissector), laid out below /usr.
set(CPACK_PACKAGE_NAME sharedlib)
set(CPACK_PACKAGE_VENDOR "SharedLib")
set(CPACK_PACKAGE_CONTACT "SharedLib maintainers <sharedlib@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Runtime library shared by the game's client, servers and tools")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "The shared runtime of the game's programs: message serialization, TCP and UDP connections, "
  "remote procedure calls, logging, services and utilities. With its headers, CMake and pkg-config "
  "files and the sharedtool command.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES OFF)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Its dependencies are those of its binaries, as dpkg-shlibdeps finds them
# (sharedtool's on the library is the package's own); without dpkg-dev,
# those of a library built with the system's g++. Packages built against it
# depend on this version or a later one.
find_program(SHAREDLIB_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(SHAREDLIB_DPKG_SHLIBDEPS)
if(SHAREDLIB_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Relative to the package's root, where dpkg-shlibdeps runs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${CMAKE_INSTALL_LIBDIR})
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

include(CPack)
