# Installation, and the Debian packages built from it with `cpack -G DEB`:
# quillmoot (the daemon, its unit, its man page and the shipped defaults) and
# quillmoot-console (the Qt console, which a headless server does not need).
include(GNUInstallDirs)

install(TARGETS quillmootd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT daemon)
install(DIRECTORY data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmoot COMPONENT daemon)
install(FILES packaging/quillmootd.service DESTINATION lib/systemd/system COMPONENT daemon)
install(FILES packaging/default-quillmoot DESTINATION /etc/default RENAME quillmoot COMPONENT daemon)
install(TARGETS quillmoot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)

# The man page is written in Markdown; without go-md2man the build goes on
# without it (the package script requires it).
find_program(GO_MD2MAN go-md2man)
if(GO_MD2MAN)
  set(man_page ${CMAKE_CURRENT_BINARY_DIR}/quillmootd.8)
  add_custom_command(OUTPUT ${man_page}.gz
    COMMAND ${GO_MD2MAN} -in ${PROJECT_SOURCE_DIR}/packaging/quillmootd.8.md -out ${man_page}
    COMMAND gzip -9nf ${man_page}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/quillmootd.8.md
    COMMENT "Writing the man page quillmootd(8)")
  add_custom_target(man_page ALL DEPENDS ${man_page}.gz)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT daemon)
else()
  message(STATUS "go-md2man not found: the man page quillmootd(8) is not built")
endif()

set(CPACK_PACKAGE_NAME quillmoot)
set(CPACK_PACKAGE_VENDOR "Quillmoot")
set(CPACK_PACKAGE_CONTACT "Quillmoot developers <quillmoot@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL daemon console)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DAEMON_PACKAGE_NAME quillmoot)
set(CPACK_DEBIAN_DAEMON_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_DAEMON_DESCRIPTION
    "multi-user text chat server for small communities\nPeople connect with a plain terminal client (telnet, netcat, PuTTY), pick a\nnickname and talk in channels. This package holds the daemon quillmootd and\nits systemd unit; the service is not enabled when the package is installed.")
set(CPACK_DEBIAN_DAEMON_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME quillmoot-console)
# The console seeds its data directory from the daemon package's defaults.
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "quillmoot (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CONSOLE_DESCRIPTION
    "operator console for the Quillmoot chat server\nThe Quillmoot chat server with its Qt 6 window: the log, the settings, the\nbans, the accounts and the IRC link.")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION net)

include(CPack)
