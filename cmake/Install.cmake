# What `cmake --install` puts under the prefix, and the configure summary.
#
#   lib/libtolvan.so.<version> (SONAME libtolvan.so.<major>), libtolvan.so
#   include/tolvan.h
#   lib/pkgconfig/tolvan.pc                  pkg-config --cflags --libs tolvan
#   lib/cmake/tolvan/                        find_package(tolvan) -> target tolvan::tolvan
#   bin/tolvan, bin/tolvan-vdev              the command-line tool and the virtual simulator
#   lib/udev/rules.d/60-tolvan.rules         serial-port access for the dialout group
#   <TOLVAN_PYTHON_INSTALL_DIR>/tolvan/      the Python package
#   share/doc/tolvan/                        README and examples
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The installed target carries the installed include directory, the build tree's its own.
set_property(TARGET tolvan PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
set_property(TARGET tolvan PROPERTY EXPORT_NAME tolvan)

install(TARGETS tolvan EXPORT tolvanTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/tolvan.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

foreach(tool tolvan-vdev tolvan-cli)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# pkg-config: relative to the .pc file, so that the tree can be installed under any prefix.
file(RELATIVE_PATH _tolvan_pc_to_prefix "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${PROJECT_SOURCE_DIR}/cmake/tolvan.pc.in ${PROJECT_BINARY_DIR}/tolvan.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tolvan.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# CMake package: find_package(tolvan [version]) gives the imported target tolvan::tolvan.
set(_tolvan_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tolvan)
install(EXPORT tolvanTargets NAMESPACE tolvan:: DESTINATION ${_tolvan_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tolvanConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tolvanConfig.cmake INSTALL_DESTINATION ${_tolvan_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tolvanConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tolvanConfig.cmake ${PROJECT_BINARY_DIR}/tolvanConfigVersion.cmake
  DESTINATION ${_tolvan_cmake_dir})

if(TOLVAN_PLATFORM STREQUAL "linux")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/60-tolvan.rules
    DESTINATION lib/udev/rules.d)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  PATTERN CMakeLists.txt EXCLUDE PATTERN __pycache__ EXCLUDE)

# The Python package, with the header and the version it reads at import and the path of the
# library installed beside it.
include(${CMAKE_CURRENT_LIST_DIR}/PythonInstallDir.cmake)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/tolvan DESTINATION ${TOLVAN_PYTHON_INSTALL_DIR}
  PATTERN __pycache__ EXCLUDE PATTERN tolvan.h EXCLUDE PATTERN VERSION EXCLUDE
  PATTERN _installed.py EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/include/tolvan.h ${PROJECT_SOURCE_DIR}/VERSION
  DESTINATION ${TOLVAN_PYTHON_INSTALL_DIR}/tolvan)
install(CODE "
  set(_dir \"${TOLVAN_PYTHON_INSTALL_DIR}\")
  if(NOT IS_ABSOLUTE \"\${_dir}\")
    set(_dir \"\${CMAKE_INSTALL_PREFIX}/\${_dir}\")
  endif()
  file(WRITE \"\$ENV{DESTDIR}\${_dir}/tolvan/_installed.py\"
    \"# Written by cmake --install: the library installed with this package.\\nLIBRARY = \\\"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:tolvan>\\\"\\n\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${_dir}/tolvan/_installed.py\")
")

# Configure summary: the version, and whether the reference data is built in and from where.
set(_tolvan_found "")
set(_tolvan_missing "")
foreach(part "aami-ec13:IEC 60601-2-27 waveforms" "nstdb:noise-stress records"
             "cts:CTS CAL and ANE20000 waveforms")
  string(REPLACE ":" ";" part "${part}")
  list(GET part 0 dir)
  list(GET part 1 what)
  if(TOLVAN_DATA_DIR AND IS_DIRECTORY "${TOLVAN_DATA_DIR}/${dir}")
    list(APPEND _tolvan_found "${dir}/ (${what})")
  else()
    list(APPEND _tolvan_missing "${dir}/ (${what})")
  endif()
endforeach()
string(REPLACE ";" ", " _tolvan_found "${_tolvan_found}")
string(REPLACE ";" ", " _tolvan_missing "${_tolvan_missing}")
message(STATUS "libtolvan ${PROJECT_VERSION} (SONAME libtolvan.so.${PROJECT_VERSION_MAJOR}), install prefix ${CMAKE_INSTALL_PREFIX}")
if(_tolvan_found)
  message(STATUS "Reference data built in from ${TOLVAN_DATA_DIR}: ${_tolvan_found}")
endif()
if(_tolvan_missing)
  string(CONCAT _tolvan_hint "at run time they load from the directory named by the environment "
    "variable TOLVAN_DATA_DIR, else play 0 mV (scripts/fetch-data.sh DIR downloads the public "
    "records, then configure with -DTOLVAN_DATA_DIR=DIR)")
  if(_tolvan_found)
    message(STATUS "Reference data NOT built in: ${_tolvan_missing}; ${_tolvan_hint}")
  else()
    message(WARNING "No reference data built in (TOLVAN_DATA_DIR is \"${TOLVAN_DATA_DIR}\"): "
      "${_tolvan_missing}; ${_tolvan_hint}")
  endif()
endif()
