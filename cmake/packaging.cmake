# What `cmake --install` lays out, and the Debian package made from it.
include(GNUInstallDirs)
# Modes fixed here, not taken from the umask of whoever installs or packages.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(CODE "set(kelvarin_install_dirs [[${CMAKE_INSTALL_BINDIR}]] [[${CMAKE_INSTALL_MANDIR}/man1]]
                  [[${CMAKE_INSTALL_DOCDIR}]])")
install(SCRIPT cmake/install-dirs.cmake)
install(TARGETS kelvarin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
install(FILES packaging/kelvarin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME kelvarin)
  set(CPACK_PACKAGE_VENDOR "The Kelvarin developers")
  set(CPACK_PACKAGE_CONTACT "The Kelvarin developers <kelvarin@example.org>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "report a computer's manufacturer, model, serial number and BIOS version")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Kelvarin reports four facts about a computer - manufacturer, model, serial\n\
number and BIOS version - as plain lines, a verbose trace or one CSV line for\n\
scripts, and tells scripts through its exit code what happened. It reads the\n\
SMBIOS table, /sys/class/dmi/id, or on boards without SMBIOS (most ARM and\n\
RISC-V single-board computers) the device tree. The same tool runs on\n\
Windows, where it asks WMI, locally or on a remote host.")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  # Debian's own files and forms: a gzipped page and changelog, the copyright
  # file in place of the license, the overrides that explain what stays.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-files.cmake)
  set(CPACK_KELVARIN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
  include(CPack)
endif()
