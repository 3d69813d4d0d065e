# Debian packages with CPack (make deb, or cpack -G DEB in the build folder):
#
#   lintrel          the programs, units, man pages, completion, desktop
#                    entries, icons, the file type and the examples
#   libqelcomm6-6    the shared libraries with their SONAMEs, MODEM.LST
#   libqelcomm6-dev  headers, the .so links, pkg-config and CMake files
#
# Every package carries its copyright file and changelog in
# share/doc/<package>; lintrel creates its system user on configure.
set(deb_packages lintrel libqelcomm6-6 libqelcomm6-dev)
set(deb_components lintrel libs dev)
foreach(package component IN ZIP_LISTS deb_packages deb_components)
  set(PACKAGE ${package})
  set(VERSION ${PROJECT_VERSION})
  configure_file(debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/debian/${package}/changelog @ONLY)
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/debian/${package}/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${GZIP} -9nf -k ${CMAKE_CURRENT_BINARY_DIR}/debian/${package}/changelog
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/${package}/changelog)
  list(APPEND deb_changelogs ${changelog})
  install(FILES debian/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
    COMPONENT ${component})
endforeach()
add_custom_target(deb_changelogs ALL DEPENDS ${deb_changelogs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lintrel)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Lintrel developers <lintrel@velmora.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${deb_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in each component's staging folder; the programs'
# own libraries are staged beside it, in the libs component's folder.  The
# dependency on them comes from the component dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../libs/usr/lib)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.velmora.example/lintrel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library package's shlibs file, and its ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_LINTREL_PACKAGE_NAME lintrel)
set(CPACK_DEBIAN_LINTREL_PACKAGE_SECTION comm)
set(CPACK_COMPONENT_LINTREL_DEPENDS libs)
set(CPACK_DEBIAN_LINTREL_PACKAGE_RECOMMENDS "systemd, shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_LINTREL_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_LINTREL_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_LINTREL_DESCRIPTION "serial-to-TCP/IP converter and serial terminal
Lintrel joins serial devices and TCP/IP networks. Each session bridges a
real serial port, or a virtual port it creates for other programs to open,
with a TCP server for one or many clients or a TCP client that reconnects,
moving bytes both ways unchanged. It runs with a window per session, or
without windows as a systemd service (lintrel@NAME runs
/etc/lintrel/NAME.qcf) that reloads its file on systemctl reload.

qelterm is a terminal on a serial port with VT100, VT52 and ANSI emulation,
XModem, YModem, ZModem and Kermit transfers and modem dialing.")

set(CPACK_DEBIAN_LIBS_PACKAGE_NAME libqelcomm6-6)
set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/debian/triggers)
set(CPACK_COMPONENT_LIBS_DESCRIPTION "serial communications library QelComm6 and the Kelvad control
QelComm6 drives serial ports through the Win32-shaped calls of its flat C
interface and its communications control: settings strings such as
9600,n,8,1, buffered input and output, line signals and events, terminal
emulation, file transfers and modem dialing. Kelvad creates virtual serial
ports over pseudo-terminals. This package holds the shared libraries and
the modem list.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqelcomm6-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS libs)
set(CPACK_COMPONENT_DEV_DESCRIPTION "serial communications library QelComm6 (development files)
QelComm6 drives serial ports through the Win32-shaped calls of its flat C
interface and its communications control. This package holds the headers
(qelcomm6.h for C, the controls for C++20), the pkg-config file qelcomm6.pc,
the CMake package QelComm6 and two examples.")

include(CPack)
