# The Linux program's message catalogues and what `cmake --install` puts
# under the prefix: bin/quindo, its man page, desktop entry, icon and the
# catalogues, where the FHS and XDG expect them. The program finds its
# catalogues at ../share/locale from its own folder once installed, and at
# locale/ beside it in the build folder.
include(GNUInstallDirs)

find_program(QUINDO_MSGFMT msgfmt REQUIRED)
set(QUINDO_LANGUAGES en ja)
set(QUINDO_CATALOGUES)
foreach(language ${QUINDO_LANGUAGES})
  set(source ${CMAKE_SOURCE_DIR}/po/${language}.po)
  set(catalogue ${CMAKE_BINARY_DIR}/locale/${language}/LC_MESSAGES/quindo.mo)
  add_custom_command(
    OUTPUT ${catalogue}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/locale/${language}/LC_MESSAGES
    COMMAND ${QUINDO_MSGFMT} --check-format --check-domain -o ${catalogue} ${source}
    DEPENDS ${source}
    COMMENT "Compiling the ${language} message catalogue")
  list(APPEND QUINDO_CATALOGUES ${catalogue})
  install(FILES ${catalogue} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
endforeach()
add_custom_target(quindo_catalogues ALL DEPENDS ${QUINDO_CATALOGUES})
add_dependencies(quindo quindo_catalogues)

install(TARGETS quindo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/doc/quindo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/resources/quindo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/quindo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# A Debian package of the same files: cpack --config build/native/CPackConfig.cmake
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quindo)
set(CPACK_PACKAGE_VENDOR "Quindo")
set(CPACK_PACKAGE_CONTACT "Quindo developers <quindo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pack files into ZIP archives, unpack ZIP and LZH archives")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
