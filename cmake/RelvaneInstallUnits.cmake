# Writes and installs the systemd units. It runs at install time, not at configure time, so
# the units name the prefix the files really go under: `cmake --install build --prefix
# ~/.local` gives a user unit that starts ~/.local/bin/RelvaneTiv, whatever prefix the build
# was configured with.
#
# Set by the install(CODE) that includes this file: RELVANE_UNIT_SOURCES (the .in files),
# RELVANE_UNIT_WORK (where the written units wait), RELVANE_BINDIR, RELVANE_SYSCONFDIR,
# RELVANE_DATADIR (GNUInstallDirs' values, relative to the prefix unless absolute),
# RELVANE_SYSTEM_UNIT_DIR and RELVANE_USER_UNIT_DIR (the builder's choice; empty: derived
# below), RELVANE_USR_SYSTEM_UNITS and RELVANE_USR_USER_UNITS (systemd's folders for /usr).

# GNUInstallDirs' rule for a folder relative to the prefix, applied to the install prefix.
function(relvane_full_dir out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

set(_prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/+$" "" _prefix "${_prefix}")
relvane_full_dir(CMAKE_INSTALL_FULL_BINDIR "${RELVANE_BINDIR}")
# The settings of a /usr install live in /etc, those of a /opt one under /etc/opt, as
# GNUInstallDirs has it.
if(RELVANE_SYSCONFDIR STREQUAL "etc" AND _prefix STREQUAL "/usr")
  set(CMAKE_INSTALL_FULL_SYSCONFDIR "/etc")
elseif(RELVANE_SYSCONFDIR STREQUAL "etc" AND _prefix MATCHES "^/opt/(.*)")
  set(CMAKE_INSTALL_FULL_SYSCONFDIR "/etc/opt/${CMAKE_MATCH_1}")
else()
  relvane_full_dir(CMAKE_INSTALL_FULL_SYSCONFDIR "${RELVANE_SYSCONFDIR}")
endif()

# Under /usr the units go where systemd keeps those of the distribution. Elsewhere: the system
# manager also searches /usr/local/lib/systemd/system; the user manager searches systemd/user
# in each data folder ($XDG_DATA_HOME or ~/.local/share, and $XDG_DATA_DIRS).
set(_system_dir "${RELVANE_SYSTEM_UNIT_DIR}")
if(_system_dir STREQUAL "" AND _prefix STREQUAL "/usr")
  set(_system_dir "${RELVANE_USR_SYSTEM_UNITS}")
elseif(_system_dir STREQUAL "")
  set(_system_dir "lib/systemd/system")
endif()
set(_user_dir "${RELVANE_USER_UNIT_DIR}")
if(_user_dir STREQUAL "" AND _prefix STREQUAL "/usr")
  set(_user_dir "${RELVANE_USR_USER_UNITS}")
elseif(_user_dir STREQUAL "")
  set(_user_dir "${RELVANE_DATADIR}/systemd/user")
endif()
relvane_full_dir(_system_dir "${_system_dir}")
relvane_full_dir(_user_dir "${_user_dir}")

foreach(unit relvanetiv.service relvanetiv-user.service)
  configure_file("${RELVANE_UNIT_SOURCES}/${unit}.in" "${RELVANE_UNIT_WORK}/${unit}" @ONLY)
endforeach()
# file(INSTALL) adds DESTDIR and records the files in the install manifest.
file(INSTALL DESTINATION "${_system_dir}" TYPE FILE
     FILES "${RELVANE_UNIT_WORK}/relvanetiv.service")
file(INSTALL DESTINATION "${_user_dir}" TYPE FILE
     FILES "${RELVANE_UNIT_WORK}/relvanetiv-user.service")
