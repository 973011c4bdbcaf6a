# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it
# (`cpack -G DEB` in the build folder).
include(GNUInstallDirs)

set(ZIBU_APP_ID "example.zibu_news.Zibu")
set(_data ${PROJECT_SOURCE_DIR}/data)

install(TARGETS zibu-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(ZIBU_BUILD_GUI)
  install(TARGETS zibu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The program copies these into a new home folder; it finds them at ../share/zibu from its binary.
install(FILES ${_data}/zibu.conf ${_data}/commonwords.dat DESTINATION ${CMAKE_INSTALL_DATADIR}/zibu)
install(FILES ${_data}/${ZIBU_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_data}/${ZIBU_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_data}/icons/${ZIBU_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${_data}/icons/${ZIBU_APP_ID}-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${ZIBU_APP_ID}.png)
endforeach()
install(FILES ${_data}/man/zibu.1 ${_data}/man/zibu-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zibu)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zibu developers <support@zibu-news.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watches news feeds and web pages and learns what interests you")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Zibu monitors RSS and Atom feeds and web pages for one person, shows the articles and page lines\n"
       "that match keyword rules or that it has learned to find relevant from the person's ratings, and\n"
       "searches the web from a start page for relevant content.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.zibu-news.example/")
# The dependencies come from dpkg-shlibdeps, the embedded browser's helper process among them (the
# WebEngine library's shlibs name its package).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
