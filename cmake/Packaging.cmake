# The desktop integration files and the Debian package.
#   cmake --build build && cd build && cpack -G DEB
include(GNUInstallDirs)

set(KORVANI_APP_ID io.github.korvani.dock)

if(KORVANI_BUILD_GUI)
  # The metainfo carries the version and the project page of this build.
  configure_file(${PROJECT_SOURCE_DIR}/data/${KORVANI_APP_ID}.metainfo.xml.in
                 ${PROJECT_BINARY_DIR}/data/${KORVANI_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${PROJECT_SOURCE_DIR}/data/korvani-dock.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/korvani-dock.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${PROJECT_BINARY_DIR}/data/${KORVANI_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvani-dock)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "korvani-dock developers")
set(CPACK_PACKAGE_CONTACT "korvani-dock developers <dev@korvani-dock.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dock a card platform's catalog into a Korvani shop back end")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build keeps its debugging information; the package does not need it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KORVANI_PROJECT_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Chinese text needs a CJK font, a name with an emoji a colour emoji font,
# and Qt's own Chinese texts give the standard buttons ("确定", "取消"); the
# tool runs without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, fonts-noto-color-emoji, qt6-translations-l10n")
# The summary above is the first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "For resellers of digital goods who run their web shop on the Korvani sales
system and take their goods from supplier card platforms. The user logs into
the shop back end in an embedded browser, logs into a supplier's front end,
reads the supplier's catalog into a check list, ticks what is wanted, and one
batch run clones the directories into the back end and docks the goods.
.
The package also holds korvani-demo-shop, a simulated back end and supplier
front end on 127.0.0.1 for trying the tool safely.")

include(CPack)
