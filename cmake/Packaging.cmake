# The Debian package: `cpack -G DEB` in the build folder after a build. Library
# dependencies are read off the installed programs by dpkg-shlibdeps; the
# renderer's fonts are named here since nothing links them.
set(CPACK_PACKAGE_NAME "krellix-varnel")
set(CPACK_PACKAGE_VENDOR "Krellix")
set(CPACK_PACKAGE_CONTACT "Krellix Varnel maintainers <varnel@krellix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Batch converter of PCL, PCL XL and HP-GL/2 print files into images")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libtarvik.so is the package's own; it is found through the programs' RUNPATH.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/bin")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-urw-base35, fonts-liberation2")
set(CPACK_GENERATOR "DEB")
include(CPack)
