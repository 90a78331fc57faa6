# The Debian package: `cpack -G DEB` in a Release build directory. The window build gives
# the package "relvanetiv"; a build with -DRELVANE_GUI=OFF gives "relvanetiv-headless", the
# same program for servers without Qt, which takes the other's place when installed.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Bramblecote")
set(CPACK_PACKAGE_CONTACT "${RELVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP relay with a Japanese desktop window")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_FILE_NAME_DEFAULT ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RELVANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.bramblecote.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts the summary first and indents the body; an empty line becomes " .".
set(_description_body [=[
Relvane Tiv relays TCP connections. Each forwarding slot listens on a local
port and connects every client to a destination host and port, copying
bytes both ways until either side closes. Up to thirty slots share one
settings file; each has a listen address and an address filter, and works
over IPv4 and IPv6. A log line per connection gives its bytes each way.

The package ships systemd units for a system service and a per-user one.]=])
if(RELVANE_GUI)
  # The window's buttons are translated by Qt's catalogue; its font is replaced by one of these.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
      "qt6-translations-l10n, fonts-ipafont-gothic | fonts-noto-cjk")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${_description_body}")
else()
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP relay for servers, without any window")
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS relvanetiv)
  set(CPACK_DEBIAN_PACKAGE_REPLACES relvanetiv)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "${_description_body}\n\nThis build links no Qt: it always runs as --headless does.")
endif()
set(CPACK_DEBIAN_PACKAGE_NAME ${RELVANE_PACKAGE_NAME})
set(CPACK_PACKAGE_NAME ${RELVANE_PACKAGE_NAME})

include(CPack)
