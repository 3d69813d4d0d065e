# What a system administrator installs with the program: man pages (scdoc
# sources, built and compressed here), bash completion, the systemd units
# with the user they run as.

# Man pages: lintrel(1) and qelterm(1).
find_program(SCDOC scdoc)
find_program(GZIP gzip REQUIRED)
if(SCDOC)
  set(man_pages)
  foreach(page lintrel.1 qelterm.1)
    set(src ${CMAKE_CURRENT_SOURCE_DIR}/man/${page}.scd)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND sh -c "'${SCDOC}' < '${src}' | '${GZIP}' -9n > '${out}'"
      DEPENDS ${src} VERBATIM)
    list(APPEND man_pages ${out})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "scdoc not found (Debian package scdoc): the man pages are not built")
endif()

install(FILES completion/lintrel completion/qelterm DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The units name the program where this install puts it, so they are
# written at install time, when the prefix is known (cpack installs into /usr).
# Installs running side by side (a package build and make install) each
# write their own copies.
install(CODE "
  set(LINTREL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  string(MD5 where \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  foreach(unit system/lintrel@.service user/lintrel.service)
    get_filename_component(name \"\${unit}\" NAME)
    set(written \"${CMAKE_CURRENT_BINARY_DIR}/units/\${where}/\${unit}\")
    configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/systemd/\${name}.in\" \"\${written}\" @ONLY)
    get_filename_component(kind \"\${unit}\" DIRECTORY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/\${kind}\" TYPE FILE FILES \"\${written}\")
  endforeach()
" COMPONENT lintrel)
install(FILES systemd/lintrel.sysusers DESTINATION lib/sysusers.d RENAME lintrel.conf)
