# The program as installed: its own folder lib/yubinbox (the executable and the windows module;
# nothing is ever written there: the single-instance marker goes to each user's runtime folder),
# a link in bin, the manual with its pictures, the licence and the changelog in the package's
# documentation folder, a desktop entry with its icon, and the man page.
include(GNUInstallDirs)

set(YUBIN_PROGRAM_FOLDER lib/yubinbox)
# The manual's folder relative to the program folder: the installed program finds it there.
set(YUBIN_MANUAL_FOLDER ${CMAKE_INSTALL_DOCDIR})
file(RELATIVE_PATH YUBIN_MANUAL_FROM_PROGRAM "/${YUBIN_PROGRAM_FOLDER}" "/${YUBIN_MANUAL_FOLDER}")
target_compile_definitions(yubin_base PRIVATE YUBIN_MANUAL_FROM_PROGRAM="${YUBIN_MANUAL_FROM_PROGRAM}")
# The message catalogues' folder relative to the program folder, likewise.
file(RELATIVE_PATH YUBIN_LOCALE_FROM_PROGRAM "/${YUBIN_PROGRAM_FOLDER}" "/${CMAKE_INSTALL_LOCALEDIR}")
target_compile_definitions(yubin_base PRIVATE YUBIN_LOCALE_FROM_PROGRAM="${YUBIN_LOCALE_FROM_PROGRAM}")

install(TARGETS yubinbox RUNTIME DESTINATION ${YUBIN_PROGRAM_FOLDER})
if(TARGET yubinbox_windows_module)
  install(TARGETS yubinbox_windows_module LIBRARY DESTINATION ${YUBIN_PROGRAM_FOLDER})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/manual/ DESTINATION ${YUBIN_MANUAL_FOLDER})
# The command line's messages in other languages than Japanese (po/).
install(DIRECTORY ${YUBIN_PROGRAM_OUTPUT_DIRECTORY}/locale/ DESTINATION ${CMAKE_INSTALL_LOCALEDIR})
# The other windows' screenshots in docs/ serve the manual too.
file(GLOB YUBIN_WINDOW_SCREENSHOTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
install(FILES ${YUBIN_WINDOW_SCREENSHOTS} DESTINATION ${YUBIN_MANUAL_FOLDER}/manual-images)
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

# The package is native (made from this repository, no separate upstream release), so its
# changelog is changelog.gz. The man page and the changelog as Debian keeps them: compressed with gzip -9n (no name and
# no time stamp in the header, so the same sources give the same package).
set(yubin_compressed_man ${CMAKE_BINARY_DIR}/packaging/yubinbox.1.gz)
set(yubin_compressed_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${yubin_compressed_man} ${yubin_compressed_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/data/yubinbox.1 > ${yubin_compressed_man}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${yubin_compressed_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/data/yubinbox.1 ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Man page and changelog compressed for the package")
add_custom_target(yubin_compressed_docs ALL
  DEPENDS ${yubin_compressed_man} ${yubin_compressed_changelog})
install(FILES ${yubin_compressed_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${yubin_compressed_changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The manual registered with doc-base, so documentation browsers list it.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/yubinbox-manual.doc-base
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base RENAME yubinbox-manual)

# A Debian package of the same files; its dependencies are Debian's own packages: the shared
# libraries the binaries need (found by dpkg-shlibdeps in cmake/PackageDepends.cmake), the X
# platform plugin of Qt and the Japanese fonts the windows stand in for the fonts they name.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME yubinbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "yubinbox developers <yubinbox-devel@yubinbox.jp>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese postal-code database builder (yubinbox.mdb)")
set(CPACK_PACKAGE_DESCRIPTION
    "Loads the national postal-code data ken_all.csv and the business-office data
jigyosyo.csv, as Japan Post publishes them every month (the CSV files or
their ZIP archives), into one database file with a prefecture and a
municipality master, and writes each user's settings file that tells other
programs where the database lies. Windows with a Japanese user interface,
and a command line for scripts: import, summary, lookup and search.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# libpq5 (the publish to PostgreSQL) and libzip4 (the ZIP archives) are loaded only when they
# are used, so dpkg-shlibdeps cannot find them: named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-ipafont-gothic, fonts-ipafont-mincho, libpq5, libzip4")
# CPack's own dependency scan would also add ldconfig calls to the maintainer scripts, since
# the windows module is a shared object under /usr/lib; a private module needs none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(YUBIN_PACKAGED_BINARIES "$<TARGET_FILE:yubinbox>")
if(TARGET yubinbox_windows_module)
  list(APPEND YUBIN_PACKAGED_BINARIES "$<TARGET_FILE:yubinbox_windows_module>")
endif()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/packaging/PackageBinaries.cmake
     CONTENT "set(YUBIN_PACKAGED_BINARIES \"${YUBIN_PACKAGED_BINARIES}\")\n")
configure_file(${PROJECT_SOURCE_DIR}/cmake/PackageDepends.cmake.in
               ${CMAKE_BINARY_DIR}/packaging/PackageDepends.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/PackageDepends.cmake)
set(CPACK_STRIP_FILES ON)
include(CPack)
