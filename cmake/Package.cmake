# The Debian package (./run package: cpack -G DEB in the build folder). It installs under /usr;
# its dependencies are worked out by dpkg-shlibdeps from the libraries the programs and the
# plug-in load, so they name run-time libraries only.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelmora)
set(CPACK_PACKAGE_VENDOR Kelmora)
set(CPACK_PACKAGE_CONTACT "Kelmora <support@kelmora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure, watch and update a Modbus RTU device")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Kelmora)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the libraries: the logo's typeface. The udev rule needs udev, which desktops have;
# on a Wayland session Qt draws natively with its Wayland plug-in, else through XWayland.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Kelmora connects to one industrial device over a serial line (a COM port or an
FTDI USB-serial adapter), identifies it and picks its XML device profile. It
shows the device as pages of displays, charts, statistics, sliders, edit boxes
and buttons, tells the device to save or load its configuration in flash, and
updates its firmware from an Intel HEX image through the device's boot loader.
.
The package holds the program, the command-line tool kelmora-cli, the
simulated device kelmora-sim, the Lumora plug-in and the shipped profiles.")

# What Debian asks of every package: its copyright statement and a change log.
set(KELMORA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kelmora)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../desktop/copyright DESTINATION ${KELMORA_DOC_DIR})
set(changelog ${CMAKE_BINARY_DIR}/changelog.Debian)
file(WRITE ${changelog} "kelmora (${PROJECT_VERSION}-1) stable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${KELMORA_RELEASE_DATE_RFC2822}
")
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND gzip -n -9 -c ${changelog} > ${changelog}.gz
  DEPENDS ${changelog}
  VERBATIM)
add_custom_target(kelmora_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION ${KELMORA_DOC_DIR})

include(CPack)
