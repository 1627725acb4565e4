# Writes the export list of the shared library from the public header.
#   cmake -DHEADER=<include/tolvan.h> -DOUTPUT=<file> [-DFORMAT=<format>] -P ExportMap.cmake
# FORMAT:
#   linux   (default) linker version script: the functions declared with TOLV_API and
#           TOLV_SERVICE_API are global, every other symbol is local;
#   windows module-definition file (.def) of TOLVANx64.dll: the TOLV_API functions only;
#   macos   exported-symbols list of ld64: the TOLV_API functions only.
# Every declaration begins its line with TOLV_API or TOLV_SERVICE_API and names its function on
# that line; a line that begins so and cannot be read stops the build rather than drop an export.
if(NOT HEADER OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DHEADER=<header> -DOUTPUT=<file> [-DFORMAT=linux|windows|macos] -P ExportMap.cmake")
endif()
if(NOT FORMAT)
  set(FORMAT linux)
endif()
if(NOT FORMAT MATCHES "^(linux|windows|macos)$")
  message(FATAL_ERROR "ExportMap.cmake: unknown FORMAT ${FORMAT}")
endif()

file(READ "${HEADER}" text)
string(REPLACE ";" " " text "${text}")  # keep CMake's list separator out of the lines
string(REPLACE "\n" ";" lines "${text}")

set(names "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^(TOLV_API|TOLV_SERVICE_API)[ \t]")
    continue()
  endif()
  set(macro "${CMAKE_MATCH_1}")
  if(NOT line MATCHES "^${macro}[ \t][^(]*[ \t*]([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\(")
    message(FATAL_ERROR "${HEADER}: no function name on the line: ${line}")
  endif()
  if(macro STREQUAL "TOLV_API" OR FORMAT STREQUAL "linux")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT names)
  message(FATAL_ERROR "${HEADER}: no TOLV_API declaration found")
endif()
list(REMOVE_DUPLICATES names)
list(SORT names)

if(FORMAT STREQUAL "linux")
  set(script "/* Generated from ${HEADER}. */\n{\n  global:\n")
  foreach(name IN LISTS names)
    string(APPEND script "    ${name};\n")
  endforeach()
  string(APPEND script "  local:\n    *;\n};\n")
elseif(FORMAT STREQUAL "windows")
  set(script "; Generated from ${HEADER}.\nLIBRARY TOLVANx64.dll\nEXPORTS\n")
  foreach(name IN LISTS names)
    string(APPEND script "    ${name}\n")
  endforeach()
else()
  set(script "")
  foreach(name IN LISTS names)
    string(APPEND script "_${name}\n")
  endforeach()
endif()
file(WRITE "${OUTPUT}" "${script}")
