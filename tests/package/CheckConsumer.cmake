# Run as a CTest script: install, then build and run the consumer two ways.
# With PREFIX (an unpacked package's usr/), the consumer uses what is there.
file(REMOVE_RECURSE ${WORK_DIR})
if(PREFIX)
  set(prefix ${PREFIX})
else()
  set(prefix ${WORK_DIR}/prefix)
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

if(NOT PREFIX)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()

# The installed headers are the library's API alone: no test seam (the names
# listed in the test-support header) is declared there.
file(READ ${SOURCE_DIR}/../../../runtime/testing/TestSeams.h seam_header)
string(REGEX MATCHALL "\n    X\\([^,]+, [A-Za-z]+," seam_entries "${seam_header}")
list(LENGTH seam_entries seam_count)
if(seam_count LESS 20)
  message(FATAL_ERROR "found only ${seam_count} test seams in TestSeams.h")
endif()
file(GLOB_RECURSE installed_headers ${prefix}/include/SharedLib/*.h)
if(EXISTS ${prefix}/include/SharedLib/testing)
  message(FATAL_ERROR "the test-support header was installed")
endif()
foreach(header IN LISTS installed_headers)
  file(READ ${header} text)
  foreach(entry IN LISTS seam_entries)
    string(REGEX REPLACE ".*, ([A-Za-z]+),$" "\\1" name "${entry}")
    if(text MATCHES "[^A-Za-z]${name}\\(")
      message(FATAL_ERROR "${header} declares the test seam ${name}")
    endif()
  endforeach()
endforeach()

# Through find_package(SharedLib CONFIG).
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "ERROR Network: consumer 42")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()

# Through pkg-config.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig:${prefix}/lib64/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs SharedLib
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know SharedLib")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS} ${LINKER_FLAGS}")
  run(${CXX_COMPILER} -std=c++20 ${cxx_flags} ${SOURCE_DIR}/main.cpp ${flags} -o ${WORK_DIR}/consumer-pc)
  set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
  run(${WORK_DIR}/consumer-pc)
endif()
