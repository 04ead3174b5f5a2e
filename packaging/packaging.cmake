# Installation beyond the programs, and the Debian package (cpack -G DEB) of what a user of a
# real router needs: tapfix-update, tapfix-cli, tapfix-pack (to make a package file for
# --package), the udev rules, the desktop entry and the icon.
include(GNUInstallDirs)

# Relative, so the Debian package (prefix /usr) puts them where udev reads them. A build
# installed under /usr/local must copy the file into /etc/udev/rules.d itself (README).
set(TAPFIX_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rules are installed")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/70-tapfix.rules DESTINATION ${TAPFIX_UDEV_RULES_DIR})

# The publishers' public keys the updater trusts, one NAME.pub each: empty here, so without a
# key installed an unsigned package is accepted with a warning.
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/tapfix/keys)

set(CPACK_PACKAGE_NAME tapfix)
set(CPACK_PACKAGE_VENDOR tapfix)
set(CPACK_PACKAGE_CONTACT "tapfix maintainers <maintainers@users.noreply.c-seed-225c8721.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "firmware updater for USB Wi-Fi routers on the Qualcomm MDM9x15")
set(CPACK_PACKAGE_DESCRIPTION
    "tapfix updates the firmware of a USB mobile Wi-Fi router built on the Qualcomm MDM9x15
chip and keeps the router's calibration and identity data (NV items, EFS RF files, Wi-Fi
MAC). It has a window (tapfix-update) and a console front-end (tapfix-cli). The udev rules
give the user at the seat the router's serial ports and keep ModemManager away from them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udev)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst
                                       ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
