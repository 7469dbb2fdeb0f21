# What `make install` puts where, and the Debian package cpack makes of it (make package).
include(GNUInstallDirs)

install(TARGETS quenlo quenlo-cli bht-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quenlo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quenlo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quenlo)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quenlo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quenlo)

# The hand-written manual pages (docs/man) and the package's changelog, with the project's version
# filled in and compressed without a time stamp, so that the package is the same from one build
# to the next.
set(QUENLO_VERSION ${PROJECT_VERSION})
set(quenlo_compressed)
foreach(source docs/man/quenlo.1 docs/man/quenlo-cli.1 docs/man/bht-sim.1 packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(text ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name})
    configure_file(${PROJECT_SOURCE_DIR}/${source} ${text} @ONLY)
    add_custom_command(
        OUTPUT ${text}.gz
        COMMAND gzip -9nc ${text} > ${text}.gz
        DEPENDS ${text}
        COMMENT "Compressing ${name}")
    list(APPEND quenlo_compressed ${text}.gz)
endforeach()
add_custom_target(quenlo-compressed-texts ALL DEPENDS ${quenlo_compressed})
# The last is the changelog, the others are manual pages.
list(POP_BACK quenlo_compressed quenlo_changelog)
install(FILES ${quenlo_compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${quenlo_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quenlo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenlo)
set(CPACK_PACKAGE_VENDOR "Quenlo")
set(CPACK_PACKAGE_CONTACT "Quenlo developers <quenlo@marrowdeck.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "loads software into DENSO BHT handheld terminals")
set(CPACK_PACKAGE_DESCRIPTION
    "Quenlo sends program, system and data files to DENSO BHT handheld\n\
terminals over a serial or infra-red link, and receives files from them,\n\
by the BHT block protocol or by YMODEM. It comes as the desktop loader\n\
quenlo, the command-line loader quenlo-cli and bht-sim, a simulated\n\
handheld to try everything without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ runtime packages the programs need, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
