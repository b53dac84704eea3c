# The program as installed: its own folder lib/yubinbox (the executable, the manual and its
# pictures; the single-instance marker goes to each user's runtime folder when that folder
# cannot be written), a link in bin, a desktop entry with its icon, and the man page.
include(GNUInstallDirs)

set(YUBIN_PROGRAM_FOLDER lib/yubinbox)

install(TARGETS yubinbox RUNTIME DESTINATION ${YUBIN_PROGRAM_FOLDER})
if(TARGET yubinbox_windows_module)
  install(TARGETS yubinbox_windows_module LIBRARY DESTINATION ${YUBIN_PROGRAM_FOLDER})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/manual/ DESTINATION ${YUBIN_PROGRAM_FOLDER})
# The other windows' screenshots in docs/ serve the manual too.
file(GLOB YUBIN_WINDOW_SCREENSHOTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${YUBIN_WINDOW_SCREENSHOTS} DESTINATION ${YUBIN_PROGRAM_FOLDER}/manual-images)
install(CODE "
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(MAKE_DIRECTORY \"\${bin}\")
  file(CREATE_LINK ../${YUBIN_PROGRAM_FOLDER}/yubinbox \"\${bin}/yubinbox\" SYMBOLIC)
  message(STATUS \"Installing: \${bin}/yubinbox -> ../${YUBIN_PROGRAM_FOLDER}/yubinbox\")
")
install(FILES ${PROJECT_SOURCE_DIR}/data/yubinbox.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/yubinbox.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/yubinbox.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# A Debian package of the same files; its dependencies are Debian's own packages: the shared
# libraries found by dpkg-shlibdeps (Qt 6, SQLite, ...), the X platform plugin of Qt and the
# Japanese fonts the windows stand in for the fonts they name.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME yubinbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "yubinbox developers <yubinbox@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese postal-code database builder (yubinbox.mdb)")
set(CPACK_PACKAGE_DESCRIPTION
    "Loads the postal operator's ken_all.csv and jigyosyo.csv into one database file with a\n prefecture and a municipality master, and writes each user's settings file.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libpq5: the publish to PostgreSQL (also found by shlibdeps; named so that it is never lost).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic, fonts-ipafont-mincho, libpq5")
set(CPACK_STRIP_FILES ON)
include(CPack)
