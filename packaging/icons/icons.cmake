# The programs' icons: an SVG and PNG renderings of it in the hicolor sizes,
# so that no SVG support is needed to show them.
set(LINTREL_ICON_DIR ${CMAKE_CURRENT_LIST_DIR})
set(LINTREL_ICON_SIZES 16 22 24 32 48 64 128 256)

# lintrel_icon_files(<name> <var>): the SVG and every PNG of one icon.
function(lintrel_icon_files name var)
  set(files ${LINTREL_ICON_DIR}/${name}.svg)
  foreach(size ${LINTREL_ICON_SIZES})
    list(APPEND files ${LINTREL_ICON_DIR}/hicolor/${size}x${size}/apps/${name}.png)
  endforeach()
  set(${var} ${files} PARENT_SCOPE)
endfunction()

# lintrel_install_icon(<name>): into share/icons/hicolor, where desktop
# entries find it by name.
function(lintrel_install_icon name)
  install(FILES ${LINTREL_ICON_DIR}/${name}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size ${LINTREL_ICON_SIZES})
    install(FILES ${LINTREL_ICON_DIR}/hicolor/${size}x${size}/apps/${name}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endfunction()
