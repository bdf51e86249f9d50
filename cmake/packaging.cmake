# What `cmake --install` puts in place and what `cpack -G DEB` packs: the program, the
# simulator (technicians without a board try the program with it), the desktop entry, the
# icon, the AppStream metadata, the manual pages and the Debian documents. Tests, benchmarks
# and the screenshot tool stay in the build tree. The files built for the package come from
# package_files.cmake.
set(SWB808_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/swb808)

install(TARGETS swb808 swb808ctl swb808-sim swb808d RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The service: its unit where Debian 12 keeps units, its configuration as a conffile.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/swb808d.service DESTINATION /lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/swb808d.conf DESTINATION /etc/swb808)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "/etc/swb808/swb808d.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/swb808.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/swb808.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

install(FILES ${SWB808_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${SWB808_COMPRESSED_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${SWB808_CHANGELOG_GZ}
        DESTINATION ${SWB808_DOC_DIR})
# The rule names an adapter by its serial number, so it is an example to copy, not active.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-swb808.rules
        DESTINATION ${SWB808_DOC_DIR}/examples)

set(SWB808_PACKAGE_MAINTAINER "SWB808 Control developers <swb808-control@users.noreply.invalid>"
    CACHE STRING "Maintainer line of the Debian package")

set(CPACK_PACKAGE_NAME swb808)
set(CPACK_PACKAGE_VENDOR "SWB808 Control developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control program for the SWB808 relay and input board")
# Debian wraps nothing: the long description keeps its own lines, at most 80 characters each.
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the SWB808 board on a serial port, switches its relays, shows its
inputs and supply voltage, edits its configuration and replaces its firmware.
Includes swb808-sim, a simulated board on a pseudo-terminal, to try the
program without a board, and swb808d, which offers the boards over HTTP
(a JSON API and an event stream) with access tokens.")
set(CPACK_PACKAGE_CONTACT "${SWB808_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)  # the build type carries debug info; the package need not

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SWB808_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${SWB808_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)
