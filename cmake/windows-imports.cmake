# SPDX-License-Identifier: GPL-2.0-or-later
# Pre-link step of the Windows module (see windows.cmake): from the
# objects about to be linked, writes DIR/obs.def and its import library
# DIR/libobs.a (every undefined name that libobs exports), and
# DIR/exports.def (the defined obs_module_* entry points).

file(STRINGS "${DIR}/objects.txt" objects)

function(symbols out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}")
  endif()
  string(REGEX MATCHALL "[ \t][A-Za-z] [^\n]+" lines "${text}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t][A-Za-z] " "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

symbols(undefined "${NM}" --undefined-only ${objects})
symbols(defined "${NM}" --defined-only --extern-only ${objects})
symbols(libobs_functions "${HOST_NM}" -D --defined-only "${LIBOBS}")
execute_process(COMMAND "${HOST_NM}" -D --defined-only "${LIBOBS}" OUTPUT_VARIABLE libobs_table)

set(imports "LIBRARY obs.dll\nEXPORTS\n")
foreach(name IN LISTS undefined)
  if(name IN_LIST defined OR NOT name IN_LIST libobs_functions)
    continue()
  endif()
  # Data is reached only through its __imp_ pointer.
  if(libobs_table MATCHES "[0-9a-f]+ [BDGRSV] ${name}\n")
    string(APPEND imports "  ${name} DATA\n")
  else()
    string(APPEND imports "  ${name}\n")
  endif()
endforeach()
file(WRITE "${DIR}/obs.def" "${imports}")
execute_process(COMMAND "${DLLTOOL}" -d "${DIR}/obs.def" -l "${DIR}/libobs.a" -D obs.dll RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dlltool failed: ${status}")
endif()

set(exports "EXPORTS\n")
foreach(name IN LISTS defined)
  if(name MATCHES "^obs_module_")
    string(APPEND exports "  ${name}\n")
  endif()
endforeach()
file(WRITE "${DIR}/exports.def" "${exports}")
