# What `cmake --install` lays out under the prefix, and the Debian package
# CPack makes from it:
#   bin/duoramic, its links duoramic_h, _n, _w, and duoramic-cli
#   lib/.../duoramic/         libduoramic_hosted360.so (the 360 viewer's
#                             window) and libduoramic_autoalign.so (the
#                             alignment), loaded on first use
#   share/duoramic/           the help page, the demo list and its pictures
#                             (the viewer finds them from bin/ as ../share)
#   share/applications/       org.duoramic.Duoramic.desktop
#   share/mime/packages/      duoramic.xml (MPO, JPS, PNS, slideshow lists)
#   share/icons/hicolor/      the icon, PNG sizes and the SVG
#   share/man/man1/           duoramic-cli.1
#   share/thumbnailers/       duoramic.thumbnailer (file managers' previews
#                             of MPO, JPS and PNS: duoramic-cli thumbnail)
#   share/metainfo/           org.duoramic.Duoramic.metainfo.xml (AppStream, for software
#                             centres)
include(GNUInstallDirs)
set(data_dir ${CMAKE_INSTALL_DATADIR}/duoramic)

install(TARGETS duoramic duoramic-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The hosted 360 viewer and the alignment, loaded by the viewer on first use.
foreach(library duoramic_autoalign duoramic_hosted360)
  if(TARGET ${library})
    install(TARGETS ${library}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/duoramic)
  endif()
endforeach()
foreach(mode h n w)
  install(CODE "execute_process(COMMAND \${CMAKE_COMMAND} -E create_symlink
    duoramic duoramic_${mode}
    WORKING_DIRECTORY \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR})")
endforeach()

foreach(demo duoramic.txt scene.mpo scene.jps scene.pns scene_L.jpg scene_R.jpg)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/samples/${demo} DESTINATION ${data_dir})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/resources/duoramic.html DESTINATION ${data_dir})

install(FILES ${CMAKE_CURRENT_LIST_DIR}/org.duoramic.Duoramic.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/duoramic.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/duoramic.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/duoramic-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/duoramic.thumbnailer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)

set(DUORAMIC_HOMEPAGE "" CACHE STRING
    "Where the project is published: the AppStream metadata then links it and its screenshots")
set(METAINFO_HOMEPAGE ${DUORAMIC_HOMEPAGE})
set(METAINFO_VERSION ${PROJECT_VERSION})
set(METAINFO_OUT ${CMAKE_BINARY_DIR}/org.duoramic.Duoramic.metainfo.xml)
include(${CMAKE_CURRENT_LIST_DIR}/metainfo.cmake)
install(FILES ${METAINFO_OUT} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# cpack -G DEB in a release build gives duoramic_VERSION_ARCH.deb.  Library
# dependencies come from dpkg-shlibdeps; the desktop and MIME caches are
# refreshed by the triggers of desktop-file-utils and shared-mime-info.
set(CPACK_PACKAGE_NAME duoramic)
set(CPACK_PACKAGE_VENDOR "Duoramic developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Stereoscopic (3D) photo and movie viewer")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows what 3D cameras make (MPO, JPS, PNS, spatial HEIC photos, VR photos, side-by-side stills, left/right pairs) in the stereo format of your display: anaglyphs, interlace, side by side, over/under, checkerboard. Includes duoramic-cli for rendering and batch conversion.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Duoramic developers <duoramic@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# No library dependency brings Qt's X11 and Wayland platform plugins (without
# qt6-wayland a Wayland session with no DISPLAY cannot start the viewer), nor the
# GStreamer plugins movies need: base (decodebin, videoconvert, appsink), good
# (the MP4, AVI and Matroska demuxers, JPEG, the PulseAudio sink) and libav
# (H.264 and the other camera codecs: without it a camera's MP4 does not open).
# libheif is opened on first use, so no library dependency names it; it
# reads HEIC only with an HEVC decoder: Debian 12's libheif1 links libde265
# itself, but it is named so that HEIC keeps opening if it does not.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-wayland, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav, libheif1, libde265-0")
# Qt's own dialog texts in Japanese, like the rest of the window.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
