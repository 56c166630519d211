# Writes the dissector: sharedlib.lua.in with the Msg, Error and Log names
# read from the library's own table files, and the zone demo's default port.
#
#   cmake -DTEMPLATE=sharedlib.lua.in -DENUM_DIR=runtime/enums
#         -DPORT_HEADER=examples/zone/ZoneProtocol.h -DOUTPUT=sharedlib.lua -P GenerateDissector.cmake

foreach(variable TEMPLATE ENUM_DIR PORT_HEADER OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "GenerateDissector.cmake needs -D${variable}=...")
  endif()
endforeach()

# A table's rows are ENUM_ROW(Name, "Description") in value order; comment
# lines (which mention ENUM_ROW too) are skipped.
function(lua_names enum out)
  file(STRINGS ${ENUM_DIR}/${enum}Table.inc lines)
  set(value 0)
  set(body "SharedLibNames.${enum} = {\n")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*//" OR line MATCHES "^[ \t]*#")
      continue()
    endif()
    if(line MATCHES "ENUM_ROW\\([ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*,")
      string(APPEND body "    [${value}] = \"${CMAKE_MATCH_1}\",\n")
      math(EXPR value "${value} + 1")
    endif()
  endforeach()
  if(value EQUAL 0)
    message(FATAL_ERROR "no rows found in ${ENUM_DIR}/${enum}Table.inc")
  endif()
  string(APPEND body "}\n")
  set(${out} "${body}" PARENT_SCOPE)
endfunction()

set(names "-- The enumerations' names by value.\nlocal SharedLibNames = {}\n")
foreach(enum Msg Error Log)
  lua_names(${enum} body)
  string(APPEND names "${body}")
endforeach()

file(STRINGS ${PORT_HEADER} port_line REGEX "kDefaultPort[ \t]*=[ \t]*[0-9]+")
if(NOT port_line MATCHES "kDefaultPort[ \t]*=[ \t]*([0-9]+)")
  message(FATAL_ERROR "no kDefaultPort in ${PORT_HEADER}")
endif()
set(port ${CMAKE_MATCH_1})

file(READ ${TEMPLATE} text)
string(REPLACE "@SHAREDLIB_NAMES@" "${names}" text "${text}")
string(REPLACE "@SHAREDLIB_DEFAULT_PORT@" "${port}" text "${text}")
# Only a changed file is written, so nothing downstream rebuilds for nothing.
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${text}" @ONLY)
