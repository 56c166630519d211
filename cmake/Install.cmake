include(CMakePackageConfigHelpers)

install(TARGETS SharedLib EXPORT SharedLibTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Public headers keep the source layout below include/SharedLib/.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/runtime/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/SharedLib
  FILES_MATCHING PATTERN "*.h" PATTERN "*.inc"
  PATTERN "posix" EXCLUDE PATTERN "win32" EXCLUDE PATTERN "common" EXCLUDE PATTERN "testing" EXCLUDE)

install(EXPORT SharedLibTargets NAMESPACE SharedLib::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SharedLib)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/SharedLibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/SharedLibConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SharedLib)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SharedLibConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SharedLibConfig.cmake
  ${PROJECT_BINARY_DIR}/SharedLibConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/SharedLib)

file(RELATIVE_PATH SHAREDLIB_PC_UP /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/SharedLib.pc.in
  ${PROJECT_BINARY_DIR}/SharedLib.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/SharedLib.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
