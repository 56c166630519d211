# Run as a CTest script: make the Debian package, check its dependencies and
# contents, unpack it into a scratch root and build the consumer against it.
file(REMOVE_RECURSE ${WORK_DIR})
set(root ${WORK_DIR}/root)

find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message("dpkg-deb is not installed: the package is not checked")
  return()
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/out)
file(GLOB packages ${WORK_DIR}/out/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one package, found: ${packages}")
endif()

# The system's runtime it needs; never itself.
run(${DPKG_DEB} --field ${packages} Package Depends)
string(REGEX MATCH "Depends: [^\n]*" depends "${last_output}")
if(NOT last_output MATCHES "Package: sharedlib\n" OR NOT depends MATCHES "libc6" OR NOT depends MATCHES "libstdc\\+\\+6"
    OR depends MATCHES "sharedlib")
  message(FATAL_ERROR "unexpected package control fields:\n${last_output}")
endif()

run(${DPKG_DEB} -x ${packages} ${root})
foreach(file bin/sharedtool include/SharedLib/SharedLib.h lib/libSharedLib.so lib/pkgconfig/SharedLib.pc
    lib/cmake/SharedLib/SharedLibConfig.cmake lib/cmake/SharedLib/SharedLibTargets.cmake)
  if(NOT EXISTS ${root}/usr/${file})
    message(FATAL_ERROR "the package lacks /usr/${file}")
  endif()
endforeach()

# sharedtool runs with the packaged library.
set(ENV{LD_LIBRARY_PATH} ${root}/usr/lib)
run(${root}/usr/bin/sharedtool enum Log 1)
if(NOT last_output MATCHES "Network")
  message(FATAL_ERROR "unexpected sharedtool output: ${last_output}")
endif()

run(${CMAKE_COMMAND} -DPREFIX=${root}/usr -DSOURCE_DIR=${SOURCE_DIR} -DWORK_DIR=${WORK_DIR}/consumer
    -DCXX_COMPILER=${CXX_COMPILER} "-DCXX_FLAGS=${CXX_FLAGS}" "-DLINKER_FLAGS=${LINKER_FLAGS}"
    -P ${CMAKE_CURRENT_LIST_DIR}/CheckConsumer.cmake)
