# SPDX-License-Identifier: GPL-2.0-or-later
# Install rules and the Debian package.
#
# The default installation is the system layout, as Debian's own OBS
# plug-in packages have it: the module in <libdir>/obs-plugins and its data
# in <datadir>/obs/obs-plugins/mistpane. The component "user" (only
# installed when asked for by name) is the layout of OBS's per-user plug-in
# folder, installed with the prefix ~/.config/obs-studio/plugins/mistpane.
# MISTPANE_FLATPAK makes the layout of an extension of OBS's Flatpak
# (prefix /app/plugins/MistPane): lib/obs-plugins, share/obs/obs-plugins
# and the extension's metainfo. On Windows the default is the legacy layout
# inside OBS's installation folder, the component "programdata" the folder
# that OBS 32 reads per machine.

if(WIN32)
  # OBS Studio's legacy Windows layout, relative to its installation folder.
  install(TARGETS mistpane LIBRARY DESTINATION obs-plugins/64bit RUNTIME DESTINATION obs-plugins/64bit)
  install(DIRECTORY "${MISTPANE_DATA_DIR}/" DESTINATION data/obs-plugins/mistpane)
  install(FILES LICENSE DESTINATION data/obs-plugins/mistpane)
  # The component "programdata": the layout of OBS's per-machine plug-in
  # folder, installed with the prefix %ProgramData%/obs-studio/plugins/mistpane
  # (the frontend's bin/64bit and data of each %module% there).
  install(TARGETS mistpane DESTINATION bin/64bit COMPONENT programdata EXCLUDE_FROM_ALL)
  install(DIRECTORY "${MISTPANE_DATA_DIR}/" DESTINATION data COMPONENT programdata EXCLUDE_FROM_ALL)
  install(FILES LICENSE DESTINATION data COMPONENT programdata EXCLUDE_FROM_ALL)
  return()
endif()

include(GNUInstallDirs)

option(MISTPANE_FLATPAK "Install as an extension of OBS Studio's Flatpak" OFF)

# OBS on Debian and Ubuntu looks only in the multiarch folder, which
# GNUInstallDirs picks only for the prefix /usr; the package is built from
# trees of any prefix. OBS's Flatpak looks in lib/obs-plugins of the
# merged extensions, whatever the SDK's multiarch.
set(MISTPANE_PLUGIN_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
if(MISTPANE_FLATPAK)
  set(MISTPANE_PLUGIN_LIBDIR lib)
elseif(CMAKE_LIBRARY_ARCHITECTURE AND MISTPANE_PLUGIN_LIBDIR STREQUAL "lib")
  set(MISTPANE_PLUGIN_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
endif()

install(TARGETS mistpane LIBRARY DESTINATION "${MISTPANE_PLUGIN_LIBDIR}/obs-plugins" COMPONENT mistpane)
install(DIRECTORY "${MISTPANE_DATA_DIR}/" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/obs/obs-plugins/mistpane" COMPONENT mistpane)
install(FILES packaging/debian/copyright DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/mistpane" COMPONENT mistpane)
if(MISTPANE_FLATPAK)
  install(FILES "${MISTPANE_METAINFO}"
          DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/metainfo" COMPONENT mistpane)
endif()

install(TARGETS mistpane LIBRARY DESTINATION bin/64bit COMPONENT user EXCLUDE_FROM_ALL)
install(DIRECTORY "${MISTPANE_DATA_DIR}/" DESTINATION data COMPONENT user EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mistpane)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_CONTACT "MistPane developers <maintainers@mistpane.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OBS Studio source that blurs or pixelates part of a scene")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "MistPane adds the Blur Board to OBS Studio: a source that you place over
anything that must not be seen on stream, such as a chat, a password
field, an address bar or a face. It blurs or pixelates whatever the scene
shows beneath it, as a rectangle or a soft-edged ellipse, fades in and
out, and keeps hiding when you move, scale, rotate or crop it.
.
Each board has a hotkey that switches it on and off, and an emergency
hotkey that pixelates the whole screen at once. Everything runs on the
GPU inside OBS.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ENHANCES obs-studio)
# The host is Debian's libobs or OBS's own package for Ubuntu, one
# "obs-studio" that holds libobs itself (and conflicts with Debian's). The
# symbols the module uses are older than the API it declares, but the host
# refuses a module of a newer minor version than its own.
set(_host_version "${libobs_VERSION_MAJOR}.${libobs_VERSION_MINOR}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libobs0t64 (>= ${_host_version}) | obs-studio (>= ${_host_version})")
# CPack's own dpkg-shlibdeps would add an unconditional dependency on
# the package owning the libobs built against: it runs at package time
# instead, leaving the host's packages out (cmake/deb-depends.cmake).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(_host_packages libobs0t64 obs-studio)
find_program(MISTPANE_DPKG_QUERY dpkg-query)
mark_as_advanced(MISTPANE_DPKG_QUERY)
get_target_property(_libobs_file OBS::libobs LOCATION)
if(MISTPANE_DPKG_QUERY AND _libobs_file)
  file(REAL_PATH "${_libobs_file}" _libobs_file)
  execute_process(COMMAND "${MISTPANE_DPKG_QUERY}" -S "${_libobs_file}" OUTPUT_VARIABLE _libobs_owner
                  ERROR_QUIET RESULT_VARIABLE _libobs_found)
  if(_libobs_found EQUAL 0)
    string(REGEX REPLACE ":.*" "" _libobs_package "${_libobs_owner}")
    list(APPEND _host_packages "${_libobs_package}")
  endif()
endif()
list(REMOVE_DUPLICATES _host_packages)
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake" CONTENT
     "set(MISTPANE_MODULE \"$<TARGET_FILE:mistpane>\")
set(MISTPANE_HOST_PACKAGES \"${_host_packages}\")
set(MISTPANE_WORK_DIR \"${CMAKE_BINARY_DIR}/deb-depends\")
include(\"${PROJECT_SOURCE_DIR}/cmake/deb-depends.cmake\")
")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake")
include(CPack)
