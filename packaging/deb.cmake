# Two Debian packages from one build: ./dev.sh package, or cpack -G DEB in a build folder.
#   ostrel         the program, the mail module and the manual page: libcurl for the mail, no Qt at all
#   ostrel-window  the window module, the help page, the desktop entry and icon

# The manual page and the packages' own documents, compressed as Debian wants
# them (gzip -n: no name or time stamp, so the same page gives the same bytes).
set(OSTREL_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${OSTREL_PACKAGING_DIR}/changelog @ONLY)
set(compressed)
foreach(source docs/ostrel.1 ${OSTREL_PACKAGING_DIR}/changelog)
  get_filename_component(source ${source} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${OSTREL_PACKAGING_DIR}/${name}.gz
    COMMAND gzip -9 -n -c ${source} > ${OSTREL_PACKAGING_DIR}/${name}.gz
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${OSTREL_PACKAGING_DIR}/${name}.gz)
endforeach()
add_custom_target(ostrel-documents ALL DEPENDS ${compressed})
# Whoever builds the program can install it.
add_dependencies(ostrel ostrel-documents)

install(FILES ${OSTREL_PACKAGING_DIR}/ostrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
# A check command for Nagios and for Icinga 2, to copy.
install(FILES ${PROJECT_SOURCE_DIR}/docs/monitoring/nagios.cfg ${PROJECT_SOURCE_DIR}/docs/monitoring/icinga2.conf
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ostrel/examples COMPONENT program)
foreach(package_component ostrel:program ostrel-window:window)
  string(REPLACE ":" ";" pair ${package_component})
  list(GET pair 0 package)
  list(GET pair 1 component)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${OSTREL_PACKAGING_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program window)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Ostrel developers <maintainers@ostrel.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies from the libraries each package's binaries link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Each package's description below starts with its own synopsis line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY IGNORE)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME ostrel)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME ostrel-window)
# A desktop install still gets the window; --no-install-recommends on a server does not.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS ostrel-window)
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "ostrel (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "TCP port check with follow-up actions
Ostrel answers one question: does a device accept a TCP connection on a
given port within a given number of seconds? When the check passes or
fails it can start a command and send a result mail.
.
This package holds the program for unattended checks from cron or a
monitoring engine (Nagios, Icinga 2 and others: OSTREL_EXIT_STATUS=plugin),
with its outcome in success.log and error.log under ~/.local/state/ostrel.
It needs no display, no graphical library and no Qt.")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "TCP port check with follow-up actions - check window
Ostrel answers one question: does a device accept a TCP connection on a
given port within a given number of seconds?
.
This package holds Ostrel's check window, started by running ostrel without
arguments: an ICMP echo for port 7, an optional anonymous FTP logon, and the
command and mail follow-ups, with its help page and desktop entry.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
