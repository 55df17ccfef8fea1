# Run by `cmake --install`: writes the user unit with the program's path
# under the prefix chosen at install time (--prefix may differ from the one
# configured), then installs it like any other file, DESTDIR included.
#
# Expects MSFS_PANEL_UNIT_TEMPLATE, MSFS_PANEL_UNIT_WORK (a scratch file),
# MSFS_PANEL_BINDIR and MSFS_PANEL_UNIT_DIR (relative to the prefix, or
# absolute).
foreach(dir MSFS_PANEL_BINDIR MSFS_PANEL_UNIT_DIR)
  if(NOT IS_ABSOLUTE "${${dir}}")
    set(${dir} "${CMAKE_INSTALL_PREFIX}/${${dir}}")
  endif()
endforeach()
set(MSFS_PANEL_EXECUTABLE "${MSFS_PANEL_BINDIR}/msfs-panel")
configure_file("${MSFS_PANEL_UNIT_TEMPLATE}" "${MSFS_PANEL_UNIT_WORK}" @ONLY)
file(INSTALL DESTINATION "${MSFS_PANEL_UNIT_DIR}" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${MSFS_PANEL_UNIT_WORK}" RENAME msfs-panel.service)
