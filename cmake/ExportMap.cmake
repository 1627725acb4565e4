# Writes the linker version script of the Linux shared library: the functions that the public
# header declares with TOLV_API are global, every other symbol is local.
#   cmake -DHEADER=<include/tolvan.h> -DOUTPUT=<version script> -P ExportMap.cmake
# Every declaration begins its line with TOLV_API and names its function on that line; a line
# that begins with TOLV_API and cannot be read stops the build rather than drop an export.
if(NOT HEADER OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DHEADER=<header> -DOUTPUT=<version script> -P ExportMap.cmake")
endif()

file(READ "${HEADER}" text)
string(REPLACE ";" " " text "${text}")  # keep CMake's list separator out of the lines
string(REPLACE "\n" ";" lines "${text}")

set(names "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^TOLV_API[ \t]")
    continue()
  endif()
  if(NOT line MATCHES "^TOLV_API[ \t][^(]*[ \t*]([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\(")
    message(FATAL_ERROR "${HEADER}: no function name on the line: ${line}")
  endif()
  list(APPEND names "${CMAKE_MATCH_1}")
endforeach()
if(NOT names)
  message(FATAL_ERROR "${HEADER}: no TOLV_API declaration found")
endif()
list(REMOVE_DUPLICATES names)
list(SORT names)

set(script "/* Generated from ${HEADER}. */\n{\n  global:\n")
foreach(name IN LISTS names)
  string(APPEND script "    ${name};\n")
endforeach()
string(APPEND script "  local:\n    *;\n};\n")
file(WRITE "${OUTPUT}" "${script}")
