# Part of the install step (config/CMakeLists.txt sets the LYRANE_EXAMPLES_*
# variables before it): fills the examples' templates with the installed
# plug-in's directory and the configuration directory, then installs them.
# A relative library directory lies under the prefix given to the install.
if(IS_ABSOLUTE "${LYRANE_EXAMPLES_LIBDIR}")
  set(LYRANE_LADSPA_DIR "${LYRANE_EXAMPLES_LIBDIR}/ladspa")
else()
  set(LYRANE_LADSPA_DIR "${CMAKE_INSTALL_PREFIX}/${LYRANE_EXAMPLES_LIBDIR}/ladspa")
endif()
set(LYRANE_CONFIG_DIR "${LYRANE_EXAMPLES_CONFIG_DIR}")
if(IS_ABSOLUTE "${LYRANE_EXAMPLES_DATADIR}")
  set(destination "${LYRANE_EXAMPLES_DATADIR}/lyrane/examples")
else()
  set(destination "${CMAKE_INSTALL_PREFIX}/${LYRANE_EXAMPLES_DATADIR}/lyrane/examples")
endif()

# One staging directory per destination: installs into different prefixes
# may run at the same time.
string(MD5 staging "$ENV{DESTDIR}${destination}")
set(staging "${LYRANE_EXAMPLES_STAGING_DIR}/${staging}")
file(GLOB templates "${LYRANE_EXAMPLES_SOURCE_DIR}/*.in")
set(filled)
foreach(template IN LISTS templates)
  get_filename_component(name "${template}" NAME)
  string(REGEX REPLACE "\\.in$" "" name "${name}")
  configure_file("${template}" "${staging}/${name}" @ONLY)
  list(APPEND filled "${staging}/${name}")
endforeach()
file(INSTALL DESTINATION "${destination}" TYPE FILE USE_SOURCE_PERMISSIONS FILES ${filled})
