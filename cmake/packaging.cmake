# Install rules and the Debian package.
#
# The default installation is the system layout, as Debian's own OBS
# plug-in packages have it: the module in <libdir>/obs-plugins and its data
# in <datadir>/obs/obs-plugins/mistpane. The component "user" (only
# installed when asked for by name) is the layout of OBS's per-user plug-in
# folder, installed with the prefix ~/.config/obs-studio/plugins/mistpane.

include(GNUInstallDirs)

# OBS on Debian and Ubuntu looks only in the multiarch folder, which
# GNUInstallDirs picks only for the prefix /usr; the package is built from
# trees of any prefix.
set(MISTPANE_PLUGIN_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
if(CMAKE_LIBRARY_ARCHITECTURE AND MISTPANE_PLUGIN_LIBDIR STREQUAL "lib")
  set(MISTPANE_PLUGIN_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
endif()

install(TARGETS mistpane LIBRARY DESTINATION "${MISTPANE_PLUGIN_LIBDIR}/obs-plugins" COMPONENT mistpane)
install(DIRECTORY data/ DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/obs/obs-plugins/mistpane" COMPONENT mistpane)

install(TARGETS mistpane LIBRARY DESTINATION bin/64bit COMPONENT user EXCLUDE_FROM_ALL)
install(DIRECTORY data/ DESTINATION data COMPONENT user EXCLUDE_FROM_ALL)

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
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_ENHANCES obs-studio)
# The symbols the module uses are older than the API it declares, but the
# host refuses a module of a newer minor version than its own: ask for the
# package that holds the libobs built against at that minor version or later.
find_program(MISTPANE_DPKG_QUERY dpkg-query)
mark_as_advanced(MISTPANE_DPKG_QUERY)
get_target_property(_libobs_file OBS::libobs LOCATION)
if(MISTPANE_DPKG_QUERY AND _libobs_file)
  file(REAL_PATH "${_libobs_file}" _libobs_file)
  execute_process(COMMAND "${MISTPANE_DPKG_QUERY}" -S "${_libobs_file}" OUTPUT_VARIABLE _libobs_owner
                  ERROR_QUIET RESULT_VARIABLE _libobs_found)
  if(_libobs_found EQUAL 0)
    string(REGEX REPLACE ":.*" "" _libobs_package "${_libobs_owner}")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_libobs_package} (>= ${libobs_VERSION_MAJOR}.${libobs_VERSION_MINOR})")
  endif()
endif()
include(CPack)
