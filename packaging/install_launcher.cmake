# Runs at install time: writes the desktop entry and the launcher it starts,
# which name installed paths, for the prefix actually installed to (which
# `cmake --install --prefix` may change after configuring). The caller sets
# VELTRANE_BINDIR, VELTRANE_LIBEXECDIR (relative to the prefix, or absolute),
# VELTRANE_PACKAGING (this folder) and VELTRANE_STAGED (where to write).
foreach(dir BINDIR LIBEXECDIR)
  if(IS_ABSOLUTE "${VELTRANE_${dir}}")
    set(full_${dir} "${VELTRANE_${dir}}")
  else()
    set(full_${dir} "${CMAKE_INSTALL_PREFIX}/${VELTRANE_${dir}}")
  endif()
endforeach()
set(VELTRANE_PROGRAM "${full_BINDIR}/veltrane")
set(VELTRANE_LAUNCHER "${full_LIBEXECDIR}/veltrane/veltrane-launch")
configure_file("${VELTRANE_PACKAGING}/desktop/veltrane.desktop.in"
               "${VELTRANE_STAGED}/veltrane.desktop" @ONLY)
configure_file("${VELTRANE_PACKAGING}/desktop/veltrane-launch.in"
               "${VELTRANE_STAGED}/veltrane-launch" @ONLY)
