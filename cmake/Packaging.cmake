# The Debian package, made by CPack from the build tree (scripts/package). Library
# dependencies come from dpkg-shlibdeps; the fonts are needed because Chinese and Japanese are
# interface languages, and Qt's translations give its own dialogs the same language.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tavrel")
set(CPACK_PACKAGE_VENDOR "Orvane Optics")
set(CPACK_PACKAGE_CONTACT "Orvane Optics <support@orvane.com>" CACHE STRING
    "Maintainer named in the package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer and controller for USB microscope cameras")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tavrel shows the live picture of USB video cameras, microscope and inspection cameras
above all, and takes JPEG snapshots and MPEG recordings of exactly what its window shows.
It mirrors, zooms and pans the picture, lays an edge mask and a crosshair over it, sets the
camera's picture properties, resolution and anti-flicker, and switches its interface between
Chinese, English and Japanese while it runs.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY "/usr")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TAVREL_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SVG icons load through Qt's SVG plugins, which no symbol of the program names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
# Only the program's own files: the build tool that renders the icons is not installed.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Tavrel;ALL;/")
include(CPack)
