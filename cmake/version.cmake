# SPDX-License-Identifier: GPL-2.0-or-later
# The version lives in project() alone (with its release date beside it);
# the files that carry it are made here from templates at configure time:
#   src/host/version.h.in  -> generated/host/version.h, for the load message
#   data/*.in              -> data/*, in the build's copy of the data folder
#                             (manifest.json, for OBS's plugin manager)
#   packaging/flatpak/*.metainfo.xml.in -> packaging/, for the Flatpak
# The build's data folder is the one the tests load and the install ships.

configure_file(src/host/version.h.in "${PROJECT_BINARY_DIR}/generated/host/version.h" @ONLY)

set(MISTPANE_DATA_DIR "${PROJECT_BINARY_DIR}/data")
# Made afresh, so that a file removed from data/ leaves no copy behind.
file(REMOVE_RECURSE "${MISTPANE_DATA_DIR}")
file(GLOB_RECURSE _data_files CONFIGURE_DEPENDS RELATIVE "${PROJECT_SOURCE_DIR}/data" "${PROJECT_SOURCE_DIR}/data/*")
foreach(_file IN LISTS _data_files)
  if(_file MATCHES "\\.in$")
    string(REGEX REPLACE "\\.in$" "" _made "${_file}")
    configure_file("data/${_file}" "${MISTPANE_DATA_DIR}/${_made}" @ONLY)
  else()
    configure_file("data/${_file}" "${MISTPANE_DATA_DIR}/${_file}" COPYONLY)
  endif()
endforeach()

set(MISTPANE_FLATPAK_ID com.obsproject.Studio.Plugin.MistPane)
set(MISTPANE_METAINFO "${PROJECT_BINARY_DIR}/packaging/${MISTPANE_FLATPAK_ID}.metainfo.xml")
configure_file("packaging/flatpak/${MISTPANE_FLATPAK_ID}.metainfo.xml.in" "${MISTPANE_METAINFO}" @ONLY)
