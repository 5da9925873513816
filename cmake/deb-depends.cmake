# SPDX-License-Identifier: GPL-2.0-or-later
# Read by cpack (CPACK_PROJECT_CONFIG_FILE): the Debian package depends on
# the host's alternatives (as configured) and on what dpkg-shlibdeps finds
# the built module needs besides them, libc for one.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(_shlibdeps dpkg-shlibdeps)
if(NOT _shlibdeps)
  message(WARNING "dpkg-shlibdeps not found: the package depends on the host alone")
  return()
endif()
# dpkg-shlibdeps wants a source package around the binary.
file(MAKE_DIRECTORY "${MISTPANE_WORK_DIR}/debian")
file(WRITE "${MISTPANE_WORK_DIR}/debian/control" "Source: mistpane\n\nPackage: mistpane\nArchitecture: any\n")
set(_exclude "")
foreach(package IN LISTS MISTPANE_HOST_PACKAGES)
  list(APPEND _exclude "-x${package}")
endforeach()
execute_process(COMMAND "${_shlibdeps}" -O ${_exclude} "${MISTPANE_MODULE}" WORKING_DIRECTORY "${MISTPANE_WORK_DIR}"
                OUTPUT_VARIABLE _out ERROR_VARIABLE _err RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${_err}")
endif()
string(REGEX MATCH "shlibs:Depends=[^\n]*" _line "${_out}")
string(REPLACE "shlibs:Depends=" "" _depends "${_line}")
if(_depends)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${_depends}")
endif()
