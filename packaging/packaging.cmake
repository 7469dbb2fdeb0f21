# What `make install` puts where, and the Debian package cpack makes of it (make package).
include(GNUInstallDirs)

install(TARGETS quenlo quenlo-cli bht-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quenlo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/quenlo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quenlo)

# Manual pages from the programs' own --help, so that they never drift from it. Only where
# help2man is installed and the programs can run here (not when cross-compiling).
find_program(QUENLO_HELP2MAN help2man)
if(QUENLO_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    set(quenlo_man_pages)
    foreach(program quenlo-cli bht-sim)
        if(program STREQUAL "quenlo-cli")
            set(summary "send files to a DENSO BHT handheld terminal, or receive them")
        else()
            set(summary "a simulated DENSO BHT handheld terminal on a pseudo-terminal")
        endif()
        set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
        add_custom_command(
            OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                    ${QUENLO_HELP2MAN} --no-info --no-discard-stderr
                    --version-string=${PROJECT_VERSION} --name=${summary}
                    --output=${page} $<TARGET_FILE:${program}>
            # -n: no time stamp, so that the package is the same from one build to the next.
            COMMAND gzip -9nf ${page}
            DEPENDS ${program}
            COMMENT "Manual page for ${program}"
            VERBATIM)
        list(APPEND quenlo_man_pages ${page}.gz)
    endforeach()
    add_custom_target(quenlo-man-pages ALL DEPENDS ${quenlo_man_pages})
    install(FILES ${quenlo_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenlo)
set(CPACK_PACKAGE_VENDOR "Quenlo")
set(CPACK_PACKAGE_CONTACT "Quenlo developers <quenlo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "loads software into DENSO BHT handheld terminals")
set(CPACK_PACKAGE_DESCRIPTION
    "Quenlo sends program, system and data files to DENSO BHT handheld terminals over a serial\n\
or infra-red link, and receives files from them, by the BHT block protocol or by YMODEM.\n\
It comes as the desktop loader quenlo, the command-line loader quenlo-cli and bht-sim, a\n\
simulated handheld to try everything without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and C++ runtime packages the programs need, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
