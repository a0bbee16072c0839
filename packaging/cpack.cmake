# The Debian package, built by `make package` (cpack -G DEB in the build tree).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lanewright)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lanewright developers <lanewright@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "QSFP-DD optical module tester for a USB test board")
# CPack puts the summary first and indents these lines; an empty line
# separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Lanewright tests 400G QSFP-DD (CMIS) optical modules through the Lanewright
USB test board: module identification, diagnostics, lane flags and
thresholds, module controls, PRBS bit-error-ratio runs, the board DSP's
configuration and the board EEPROM.

The package holds the desktop application (lanewright), the command-line
tool (lanewright-cli) with bash and zsh completion, and the udev rule that
gives the logged-in user access to the board.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_SET_DESTDIR OFF)
include(CPack)
