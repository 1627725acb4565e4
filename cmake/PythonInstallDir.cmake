# TOLVAN_PYTHON_INSTALL_DIR: where cmake --install puts the Python package (relative to the
# prefix, or absolute). Worked out before the tests are added, since the install test names it.
include(GNUInstallDirs)
set(_tolvan_python_default "${CMAKE_INSTALL_LIBDIR}/python3/dist-packages")
if(EXISTS /usr/bin/python3 AND NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  execute_process(COMMAND /usr/bin/python3 -c "import sys; print('%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE _tolvan_py_version OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(_tolvan_py_version)
    set(_tolvan_python_default "${CMAKE_INSTALL_LIBDIR}/python${_tolvan_py_version}/dist-packages")
  endif()
endif()
set(TOLVAN_PYTHON_INSTALL_DIR "${_tolvan_python_default}" CACHE STRING
  "Directory (relative to the prefix, or absolute) of the installed Python package")
