# The Debian package, made by CPack's DEB generator from the install rules:
#   cmake --build build --target package   ->   build/tarnwickley_1.0.2_amd64.deb
# (tools/package does the same and prints where the file is). The package
# installs under /usr; the maintainer scripts in packaging/debian enable the
# directions service's systemd user socket for all users and disable it again
# on removal.

set(TW_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(TW_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tarnwickley)

# Manual pages and the changelog, compressed as Debian policy wants them
# (gzip -9n: no name or time stamp, so builds are reproducible).
find_program(TW_GZIP gzip REQUIRED)
set(TW_COMPRESSED)
foreach(page tarnwickley tarnwickley-directions tarnwickley-mapgen)
  list(APPEND TW_COMPRESSED man/${page}.1)
endforeach()
list(APPEND TW_COMPRESSED debian/changelog)
set(TW_COMPRESSED_OUTPUTS)
foreach(source ${TW_COMPRESSED})
  set(output ${CMAKE_BINARY_DIR}/packaging/${source}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/man ${CMAKE_BINARY_DIR}/packaging/debian
    COMMAND ${TW_GZIP} -9n -c ${TW_PACKAGING_DIR}/${source} > ${output}
    DEPENDS ${TW_PACKAGING_DIR}/${source}
    VERBATIM)
  list(APPEND TW_COMPRESSED_OUTPUTS ${output})
endforeach()
add_custom_target(tw_packaging_files ALL DEPENDS ${TW_COMPRESSED_OUTPUTS})

foreach(page tarnwickley tarnwickley-directions tarnwickley-mapgen)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
# A package whose version has no Debian revision is native: its changelog is changelog.gz.
install(FILES ${CMAKE_BINARY_DIR}/packaging/debian/changelog.gz DESTINATION ${TW_DOC_DIR})
install(FILES ${TW_PACKAGING_DIR}/debian/copyright DESTINATION ${TW_DOC_DIR})
install(FILES ${TW_PACKAGING_DIR}/debian/tarnwickley.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tarnwickley)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwickley)
set(CPACK_PACKAGE_VENDOR "The Tarnwickley team")
set(CPACK_PACKAGE_CONTACT "The Tarnwickley team <tarnwickley@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "driving directions for the iPod, with a local directions service")
# The extended description, its lines within 80 columns as Debian wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Type a start and a destination address: Tarnwickley asks a directions"
  "service for the route, shows the numbered driving steps, and on request"
  "writes them as a note onto an iPod attached as a removable disk."
  ""
  "The package brings its own directions service (tarnwickley-directions)"
  "with a small bundled map, so the application works offline out of the"
  "box; the service can serve any OpenStreetMap extract of the user's region.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Install into the staging folder with DESTDIR and the real prefix, so what the
# install rules write (the systemd units' ExecStart) names /usr, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwickley.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${TW_PACKAGING_DIR}/debian/postinst ${TW_PACKAGING_DIR}/debian/prerm ${TW_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Full RELRO for the installed programs (their GOT read-only after start-up).
foreach(program tarnwickley tarnwickley-directions tarnwickley-mapgen)
  target_link_options(${program} PRIVATE -Wl,-z,now)
endforeach()
include(CPack)

# The package's control fields and file list (tools/check_package), where the
# Debian tools that make it are installed.
find_program(TW_DPKG_DEB dpkg-deb)
find_program(TW_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TW_DPKG_DEB AND TW_DPKG_SHLIBDEPS)
  add_test(NAME packaging_deb_test COMMAND ${CMAKE_SOURCE_DIR}/tools/check_package ${CMAKE_BINARY_DIR})
  set_tests_properties(packaging_deb_test PROPERTIES LABELS packaging TIMEOUT 300)
else()
  message(STATUS "dpkg-deb or dpkg-shlibdeps not found: the package test is not registered")
endif()
