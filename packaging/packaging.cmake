# Installation and the Debian package.
# The program itself is installed by main_window/CMakeLists.txt; this adds the desktop entry,
# the icons and the CPack settings. Build the package with: cpack -G DEB (in the build tree).
include(GNUInstallDirs)

set(_lightbench_packaging_dir ${CMAKE_CURRENT_LIST_DIR})

install(FILES ${_lightbench_packaging_dir}/lightbench.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(_size 16 32)
  install(FILES ${PROJECT_SOURCE_DIR}/main_window/icons/lightbench-${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
          RENAME lightbench.png)
endforeach()

# Values reach CPack exactly as written here (regexes, the multi-line description).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME lightbench)
set(CPACK_PACKAGE_VENDOR "Lightbench developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lightbench developers <dev@lightbench.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench tool that drives up to 16 serial controllers at once")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_NAME lightbench)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lightbench developers <dev@lightbench.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary above this as the Description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Lightbench opens up to sixteen serial ports, shows per port whether it opened,
is in use by another program or does not exist, and sends the same text
commands to every open port: editable presets, a timed channel sweep and a
fast back-to-back sweep. Replies are shown per port and in one receive log.")
# The Qt libraries come from the binary (dpkg-shlibdeps); on Debian 12 libqt6gui6 also carries
# the xcb platform plugin the window needs. The font is no library: the window asks for a
# Song-style CJK face.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/")

include(CPack)
