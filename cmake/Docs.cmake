# The documentation site: Doxygen over the public headers and the guide pages
# in docs/, written to <build>/docs/html and installed with the package when
# it has been built. Without Doxygen (or without Python, which the filter for
# the enumeration headers needs) there is no docs target.

find_package(Doxygen 1.9 QUIET OPTIONAL_COMPONENTS dot)
find_package(Python3 QUIET COMPONENTS Interpreter)
if(NOT DOXYGEN_FOUND OR NOT Python3_Interpreter_FOUND)
  set(SHAREDLIB_DOCS_AVAILABLE OFF)
  return()
endif()
set(SHAREDLIB_DOCS_AVAILABLE ON)

option(SHAREDLIB_DOCS_WARNINGS_AS_ERRORS "Fail the docs target on any Doxygen warning" ON)
if(SHAREDLIB_DOCS_WARNINGS_AS_ERRORS)
  set(SHAREDLIB_DOCS_WARN_AS_ERROR FAIL_ON_WARNINGS)
else()
  set(SHAREDLIB_DOCS_WARN_AS_ERROR NO)
endif()
if(TARGET Doxygen::dot)
  set(SHAREDLIB_DOCS_HAVE_DOT YES)
  get_target_property(dot_executable Doxygen::dot IMPORTED_LOCATION)
  get_filename_component(SHAREDLIB_DOCS_DOT_PATH ${dot_executable} DIRECTORY)
else()
  set(SHAREDLIB_DOCS_HAVE_DOT NO)
  set(SHAREDLIB_DOCS_DOT_PATH "")
endif()

set(SHAREDLIB_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
set(SHAREDLIB_DOCS_HTML ${SHAREDLIB_DOCS_OUTPUT}/html)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${SHAREDLIB_DOCS_OUTPUT}/Doxyfile @ONLY)

# The site is written afresh each time, so no page of an earlier run survives.
add_custom_target(docs
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SHAREDLIB_DOCS_HTML}
  COMMAND Doxygen::doxygen ${SHAREDLIB_DOCS_OUTPUT}/Doxyfile
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Generating the documentation site in ${SHAREDLIB_DOCS_HTML}"
  VERBATIM)

# Installed only when it has been built: a plain install works without it.
install(DIRECTORY ${SHAREDLIB_DOCS_HTML}/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/html OPTIONAL)
