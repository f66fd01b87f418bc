# What "cmake --install" lays out, and the Debian package made from it
# ("cpack -G DEB" in the release build):
#   bin/quorvel, bin/quorvel-convert
#   share/quorvel/{mp3-converter-profiles,skin-aqua}   found from bin/ at run time
#   share/applications/quorvel.desktop, share/icons/hicolor/NxN/apps/quorvel.png
include(GNUInstallDirs)

install(TARGETS quorvel-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY "${QUORVEL_RESOURCE_OUT}/mp3-converter-profiles" DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvel)
if(QUORVEL_BUILD_APP)
  install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY "${QUORVEL_RESOURCE_OUT}/skin-aqua" DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvel)
  install(FILES "${PROJECT_SOURCE_DIR}/resources/desktop/quorvel.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
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
