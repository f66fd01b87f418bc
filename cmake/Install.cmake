# What "cmake --install" lays out, and the Debian package made from it
# ("cpack -G DEB" in the release build):
#   bin/quorvel, bin/quorvel-convert
#   share/quorvel/{mp3-converter-profiles,skin-aqua}   found from bin/ at run time
#   share/applications/quorvel.desktop, share/icons/hicolor/NxN/apps/quorvel.png
#   share/metainfo/io.sabrivo.quorvel.metainfo.xml     software centres
#   share/man/man1/quorvel.1, quorvel-convert.1
#   share/bash-completion/completions/quorvel-convert
include(GNUInstallDirs)

# quorvel-convert's manual page is made from its own --help at build time,
# so it lists exactly the options the program has; examples and files come
# from resources/man/quorvel-convert.h2m. The window program's page is
# written by hand (its command line is only files).
find_program(QUORVEL_HELP2MAN help2man)
if(QUORVEL_HELP2MAN)
  set(_man_out "${CMAKE_BINARY_DIR}/man")
  add_custom_command(
    OUTPUT "${_man_out}/quorvel-convert.1"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_man_out}"
    # A sanitizer build's leak check would fail the run over a page of text.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            "${QUORVEL_HELP2MAN}" --no-info --version-string=${PROJECT_VERSION}
            --name "convert audio files and the sound of videos in batches"
            --include "${PROJECT_SOURCE_DIR}/resources/man/quorvel-convert.h2m"
            --output "${_man_out}/quorvel-convert.1" $<TARGET_FILE:quorvel-convert>
    DEPENDS quorvel-convert "${PROJECT_SOURCE_DIR}/resources/man/quorvel-convert.h2m"
    COMMENT "Writing the manual page of quorvel-convert"
    VERBATIM)
  add_custom_target(quorvel_manual ALL DEPENDS "${_man_out}/quorvel-convert.1")
  install(FILES "${_man_out}/quorvel-convert.1" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: quorvel-convert's manual page is not made (scripts/setup installs it)")
endif()
install(FILES "${PROJECT_SOURCE_DIR}/resources/completion/quorvel-convert"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

install(TARGETS quorvel-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY "${QUORVEL_RESOURCE_OUT}/mp3-converter-profiles" DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvel)
if(QUORVEL_BUILD_APP)
  install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY "${QUORVEL_RESOURCE_OUT}/skin-aqua" DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvel)
  install(FILES "${PROJECT_SOURCE_DIR}/resources/desktop/quorvel.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${PROJECT_SOURCE_DIR}/resources/desktop/io.sabrivo.quorvel.metainfo.xml"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES "${PROJECT_SOURCE_DIR}/resources/man/quorvel.1" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(DIRECTORY "${QUORVEL_ICON_OUT}/" DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
endif()

# The package. Linked libraries (Qt, curl, the C++ runtime) are found by
# dpkg-shlibdeps; the media libraries and SDL are opened with dlopen, so no
# tool sees them: they are named here, each by the major its headers had at
# build time (the loader opens exactly that major).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR Sabrivo)
set(CPACK_PACKAGE_CONTACT "Sabrivo <quorvel@sabrivo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Converts audio files and the sound of videos to other audio formats in batches")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(_runtime_depends)
foreach(_lib avcodec avformat avutil avfilter swscale swresample)
  string(REGEX MATCH "^[0-9]+" _major "${FFMPEG_HEADERS_lib${_lib}_VERSION}")
  list(APPEND _runtime_depends "lib${_lib}${_major}")
endforeach()
# SDL 1.2 itself (not sdl12-compat), and Qt's X11 platform plugin, which no
# linked library pulls in.
list(APPEND _runtime_depends libsdl1.2debian)
if(QUORVEL_BUILD_APP)
  list(APPEND _runtime_depends qt6-qpa-plugins)
endif()
list(JOIN _runtime_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
include(CPack)
