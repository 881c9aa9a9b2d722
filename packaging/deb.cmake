# The Debian package: ./dev.sh package, or cpack -G DEB in a build folder.

# The manual page and the package's own documents, compressed as Debian wants
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

install(FILES ${OSTREL_PACKAGING_DIR}/ostrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${OSTREL_PACKAGING_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ostrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Ostrel developers <maintainers@ostrel.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies from the libraries the program and its module link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP port check with follow-up actions")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ostrel answers one question: does a device accept a TCP connection on a
given port within a given number of seconds? Around it, an ICMP echo for
port 7 and an optional anonymous FTP logon.

When the check passes or fails it can start a command and send a result
mail. It runs with a check window, or unattended from cron with a calling
sequence on the command line, writing its outcome to success.log or
error.log beside the program.")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
