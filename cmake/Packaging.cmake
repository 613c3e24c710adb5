# Installation and the Debian package (make package): zelhost and the simulated box in bin/, the
# module where zelhost looks for it (lib/zelhost/modules beside bin/, a literal path: zelhost finds
# it from its own folder), and the service. The package's dependencies come from the libraries
# the programs link (dpkg-shlibdeps, of dpkg-dev).
# Installing and packaging take what is built and build nothing themselves (make package builds
# first): otherwise every cpack would build every test program of the tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(TARGETS zelhost all3000-sim RUNTIME DESTINATION bin)
install(TARGETS IO.ALL3000 LIBRARY DESTINATION lib/zelhost/modules)
install(FILES packaging/zelhost.service DESTINATION lib/systemd/system)
install(FILES README.md DESTINATION share/doc/zelhost)
# /etc/default belongs to the system, not to the prefix: the package (prefix /usr, into a DESTDIR)
# puts the service's options there, any other installation (a test's prefix) under its own etc/.
install(CODE "set(zel_default ${CMAKE_SOURCE_DIR}/packaging/zelhost.default)")
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(zel_etc /etc)
  else()
    set(zel_etc ${CMAKE_INSTALL_PREFIX}/etc)
  endif()
  # Readable by root only: it may hold the broker's password.
  file(INSTALL DESTINATION ${zel_etc}/default TYPE FILE RENAME zelhost PERMISSIONS OWNER_READ OWNER_WRITE
       FILES ${zel_default})
]])

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelhost)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_CONTACT "zelhost maintainers <zelhost@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "readings of ALL3000 boxes to MQTT, as a service")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS mosquitto)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
configure_file(packaging/conffiles.in ${CMAKE_BINARY_DIR}/packaging/conffiles @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/postinst
  ${CMAKE_SOURCE_DIR}/packaging/postrm
  ${CMAKE_BINARY_DIR}/packaging/conffiles)
include(CPack)
