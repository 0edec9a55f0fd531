# Installation and the Debian package (cpack -G DEB; `make package`).
#
# The package holds what runs on an AP: the daemon in sbin, the operator's
# tools in bin, the factory configuration beside the configuration database,
# and a systemd unit.  The twin, the simulators, the tests and the
# benchmarks stay out.  Binaries are stripped when the package is made.

include(GNUInstallDirs)

install(TARGETS mapd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS mapctl maptrace dmanctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The database lives in /etc/dman (dman.db); the factory configuration is
# loaded into it on the first start (see packaging/debian/mapd.service).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/factory-config.txt DESTINATION /etc/dman)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/mapd.service DESTINATION /lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mapd)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "mapd maintainers <mapd@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "managed access point daemon and its tools")
# The summary above is the first line; this the text below it.
set(CPACK_PACKAGE_DESCRIPTION
    "mapd runs on a wireless access point and puts it under the control of a\n"
    "wireless switch: discovery, the TLS link, configuration, statistics and the\n"
    "relay of client messages.  mapctl sends it local control commands, maptrace\n"
    "shows its traces and dmanctl reads and writes the configuration database.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends from the libraries the binaries link (libssl3, libsqlite3-0, libc6,
# libstdc++6, ...), as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Only the install rules above: the simulators and tests have none.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};mapd;ALL;/")
include(CPack)
