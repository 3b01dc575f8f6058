# The Debian package, made by CPack from the install rules:
#
#   cpack --config BUILD/CPackConfig.cmake    ->  BUILD/package/dotweave_<version>_<arch>.deb
#
# It holds the components listed in DOTWEAVE_PACKAGE_COMPONENTS. The PPD
# files go where Debian keeps driver PPDs, /usr/share/ppd/dotweave, instead
# of CUPS's model directory that `cmake --install` fills; the copyright file
# and the changelog go to /usr/share/doc/dotweave. Library dependencies come
# from dpkg-shlibdeps.

# Only the package installs these two components.
install(DIRECTORY ${DOTWEAVE_PPD_DIR}/ DESTINATION share/ppd/dotweave
        COMPONENT debian-ppd EXCLUDE_FROM_ALL
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        FILES_MATCHING PATTERN "*.ppd")
set(DOTWEAVE_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${DOTWEAVE_CHANGELOG_GZ}
                   COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog
                           ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
                   COMMAND ${GZIP_EXECUTABLE} -9nf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
                   DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(dotweave_changelog ALL DEPENDS ${DOTWEAVE_CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${DOTWEAVE_CHANGELOG_GZ}
        DESTINATION share/doc/dotweave COMPONENT debian-doc EXCLUDE_FROM_ALL
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The components in the package. A part added later (the printer
# application: binary, systemd unit, manual page) adds its own with
#   set_property(GLOBAL APPEND PROPERTY DOTWEAVE_PACKAGE_COMPONENTS <component>)
set_property(GLOBAL APPEND PROPERTY DOTWEAVE_PACKAGE_COMPONENTS filter preview man debian-ppd debian-doc)

# CPack takes its settings at the end of the top-level CMakeLists.txt, after
# every part has added its component.
macro(dotweave_configure_package)
  get_property(DOTWEAVE_PACKAGE_COMPONENTS GLOBAL PROPERTY DOTWEAVE_PACKAGE_COMPONENTS)
  # The version is the top changelog entry's: "dotweave (0.1.0-1) unstable; ...".
  file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog DOTWEAVE_CHANGELOG_TOP LIMIT_COUNT 1)
  string(REGEX MATCH "^dotweave \\(([^)-]+)-([^)]+)\\)" matched "${DOTWEAVE_CHANGELOG_TOP}")
  if(NOT matched OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(WARNING "packaging/changelog has no entry for version ${PROJECT_VERSION} on top; "
                    "the package gets the Debian revision 0")
    set(CMAKE_MATCH_2 0)
  endif()
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME dotweave)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL ${DOTWEAVE_PACKAGE_COMPONENTS})
  set(CPACK_DEBIAN_PACKAGE_NAME dotweave)
  set(CPACK_PACKAGE_CONTACT "dotweave maintainers <maintainers@users.noreply.c-seed-6930f1a0.example>")
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CUPS filter and printer application for label, receipt and dot-matrix printers")
  # The summary above is the first line of the control file's description; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "dotweave turns the CUPS raster pages of a print job into the command
language of the printer: the Dymo label protocol, EPL line and page mode,
ZPL, TSPL, PCL raster, ESC/POS for receipt printers, and the command sets
of the OEM thermal printers (heads of 384 to 832 dots) and needle printers
(1440 dots per line).
.
The package holds the filter, one PPD file per printer in
/usr/share/ppd/dotweave, the printer application dotweave-app, which serves
every one of these printers as a driverless IPP Everywhere printer (USB,
network, serial and Bluetooth), with its systemd service, the print preview
dotweave-preview, which turns a printer stream back into pictures, and the
manual pages.")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The maintainer scripts make the service's user, enable and start
  # dotweave-app.service on install, stop it on removal and forget it, with
  # its state and its user, on purge. The PAM service file is a conffile.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm ${CMAKE_SOURCE_DIR}/packaging/postrm
      ${CMAKE_SOURCE_DIR}/packaging/conffiles)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ghostscript)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups-daemon, cups-filters")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  include(CPack)
endmacro()
cmake_language(DEFER CALL dotweave_configure_package)
