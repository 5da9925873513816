# SPDX-License-Identifier: GPL-2.0-or-later
# libobs for the MinGW-w64 cross-build. OBS ships no SDK for MinGW: the
# module is compiled against libobs's own headers (the same on every
# platform) and linked against an import library of obs.dll made at link
# time from the libobs functions its objects call, each checked against
# the names a real libobs exports (MISTPANE_LIBOBS_EXPORTS, a libobs.so).
# The same step writes the module's export list: its obs_module_* entry
# points and nothing else (MinGW would otherwise export every symbol).

set(MISTPANE_LIBOBS_INCLUDE_DIR /usr/include/obs CACHE PATH "libobs's headers")
set(MISTPANE_LIBOBS_EXPORTS "" CACHE FILEPATH "A libobs shared library whose exported names obs.dll has too")
if(NOT EXISTS "${MISTPANE_LIBOBS_INCLUDE_DIR}/obs-config.h" OR NOT EXISTS "${MISTPANE_LIBOBS_EXPORTS}")
  message(FATAL_ERROR "Set MISTPANE_LIBOBS_INCLUDE_DIR and MISTPANE_LIBOBS_EXPORTS (scripts/build-windows.sh does)")
endif()

file(STRINGS "${MISTPANE_LIBOBS_INCLUDE_DIR}/obs-config.h" _api REGEX "^#define LIBOBS_API_(MAJOR|MINOR|PATCH)_VER ")
foreach(part MAJOR MINOR PATCH)
  string(REGEX REPLACE ".*#define LIBOBS_API_${part}_VER ([0-9]+).*" "\\1" libobs_VERSION_${part} "${_api}")
endforeach()
set(libobs_VERSION "${libobs_VERSION_MAJOR}.${libobs_VERSION_MINOR}.${libobs_VERSION_PATCH}")
if(libobs_VERSION VERSION_LESS 32.2)
  message(FATAL_ERROR "libobs ${libobs_VERSION} in ${MISTPANE_LIBOBS_INCLUDE_DIR}: 32.2 or later needed")
endif()

add_library(OBS::libobs INTERFACE IMPORTED)
set_target_properties(OBS::libobs PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${MISTPANE_LIBOBS_INCLUDE_DIR}")

find_program(MISTPANE_HOST_NM nm NO_CMAKE_FIND_ROOT_PATH REQUIRED)
string(REGEX REPLACE "g\\+\\+(-[a-z0-9]+)?$" "" _prefix "${CMAKE_CXX_COMPILER}")
find_program(MISTPANE_MINGW_NM ${_prefix}nm REQUIRED)
find_program(MISTPANE_MINGW_DLLTOOL ${_prefix}dlltool REQUIRED)
mark_as_advanced(MISTPANE_HOST_NM MISTPANE_MINGW_NM MISTPANE_MINGW_DLLTOOL)

# Called from CMakeLists.txt once the module target exists.
function(mistpane_windows_link target)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/windows-link")
  file(GENERATE OUTPUT "${dir}/objects.txt"
       CONTENT "$<JOIN:$<TARGET_OBJECTS:mistpane_objects>;$<TARGET_OBJECTS:${target}>,\n>\n")
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND "${CMAKE_COMMAND}" "-DDIR=${dir}" "-DNM=${MISTPANE_MINGW_NM}" "-DHOST_NM=${MISTPANE_HOST_NM}"
            "-DDLLTOOL=${MISTPANE_MINGW_DLLTOOL}" "-DLIBOBS=${MISTPANE_LIBOBS_EXPORTS}"
            -P "${PROJECT_SOURCE_DIR}/cmake/windows-imports.cmake"
    VERBATIM)
  target_link_options(${target} PRIVATE "${dir}/exports.def")
  target_link_directories(${target} PRIVATE "${dir}")
  # After the objects: -lobs finds libobs.a, the import library (named so
  # because -static looks for nothing else).
  target_link_libraries(${target} PRIVATE -lobs)
endfunction()
