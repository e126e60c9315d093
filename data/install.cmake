# Generated at build: PNG icons from the SVG, man pages from their scdoc sources.
find_program(LUMIVEX_RSVG_CONVERT rsvg-convert REQUIRED)  # Debian: librsvg2-bin
find_program(LUMIVEX_SCDOC scdoc REQUIRED)

set(LUMIVEX_APP_ID app.lumivex.Lumivex)
set(LUMIVEX_ICON_SVG ${CMAKE_CURRENT_SOURCE_DIR}/icons/${LUMIVEX_APP_ID}.svg)
set(LUMIVEX_ICON_SIZES 16 22 24 32 48 64 128 256)
set(LUMIVEX_GENERATED_DATA)
foreach(size ${LUMIVEX_ICON_SIZES})
  set(png ${PROJECT_BINARY_DIR}/icons/${size}/${LUMIVEX_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/icons/${size}
    COMMAND ${LUMIVEX_RSVG_CONVERT} --width ${size} --height ${size} --output ${png}
            ${LUMIVEX_ICON_SVG}
    DEPENDS ${LUMIVEX_ICON_SVG} VERBATIM)
  list(APPEND LUMIVEX_GENERATED_DATA ${png})
endforeach()

# Man pages are compressed as Debian keeps them.
foreach(page lumivex.1 lumivex-cli.1)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/man/${page}.scd)
  set(gz ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "'${LUMIVEX_SCDOC}' < '${source}' | gzip -9n > '${gz}'"
    DEPENDS ${source} VERBATIM)
  list(APPEND LUMIVEX_GENERATED_DATA ${gz})
endforeach()
add_custom_target(lumivex_install_data ALL DEPENDS ${LUMIVEX_GENERATED_DATA})

# The data folder, found by the programs relative to bin/.
set(LUMIVEX_DATA_DEST ${CMAKE_INSTALL_DATADIR}/lumivex)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/help/ DESTINATION ${LUMIVEX_DATA_DEST}/help)
install(FILES ${LUMIVEX_OUTPUT_DIR}/xwab.def ${LUMIVEX_SAMPLE_STORE} DESTINATION ${LUMIVEX_DATA_DEST})

install(FILES ${LUMIVEX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${LUMIVEX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${LUMIVEX_APP_ID}.mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${LUMIVEX_APP_ID}.xml)
install(FILES ${LUMIVEX_ICON_SVG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${LUMIVEX_ICON_SIZES})
  install(FILES ${PROJECT_BINARY_DIR}/icons/${size}/${LUMIVEX_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/man/lumivex.1.gz ${PROJECT_BINARY_DIR}/man/lumivex-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES completion/lumivex-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lumivex-cli)

# Installed where the desktop reads applications, file types and icons (~/.local/share, or a
# folder of XDG_DATA_DIRS such as /usr/local/share), the file types, the menu entry and the icon
# are registered at once, so that the file manager opens .pst and .ost files with Lumivex. A
# package's staging tree is left alone: the system's own triggers register what it installs.
# Into any other prefix, the command that registers them is printed.
install(CODE "set(LUMIVEX_SHARE_DEST [[${CMAKE_INSTALL_DATADIR}]])")
install(CODE [[
  set(share "${CMAKE_INSTALL_PREFIX}/${LUMIVEX_SHARE_DEST}")
  if("$ENV{DESTDIR}" STREQUAL "" AND NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
    set(desktop_folders "$ENV{XDG_DATA_HOME}")
    if(desktop_folders STREQUAL "")
      set(desktop_folders "$ENV{HOME}/.local/share")
    endif()
    set(system_folders "$ENV{XDG_DATA_DIRS}")
    if(system_folders STREQUAL "")
      set(system_folders "/usr/local/share:/usr/share")
    endif()
    string(REPLACE ":" ";" system_folders "${system_folders}")
    list(APPEND desktop_folders ${system_folders})
    file(REAL_PATH "${share}" real_share)
    set(read_by_desktop FALSE)
    foreach(folder IN LISTS desktop_folders)
      if(NOT folder STREQUAL "" AND EXISTS "${folder}")
        file(REAL_PATH "${folder}" real_folder)
        if(real_folder STREQUAL real_share)
          set(read_by_desktop TRUE)
        endif()
      endif()
    endforeach()
    if(read_by_desktop)
      function(lumivex_register tool)
        find_program(tool_path ${tool} NO_CACHE)
        if(tool_path)
          execute_process(COMMAND "${tool_path}" ${ARGN} RESULT_VARIABLE status)
          if(NOT status EQUAL 0)
            message(WARNING "${tool} ${ARGN} ended with status ${status}")
          endif()
        endif()
      endfunction()
      lumivex_register(update-mime-database "${share}/mime")
      lumivex_register(update-desktop-database -q "${share}/applications")
      # An icon theme's cache, where the folder keeps one (/usr/share); elsewhere the icons are
      # found without it.
      if(EXISTS "${share}/icons/hicolor/index.theme")
        lumivex_register(gtk-update-icon-cache -q "${share}/icons/hicolor")
      endif()
      message(STATUS "Registered the .pst and .ost file types, the menu entry and the icon in ${share}")
    else()
      message(STATUS "The desktop does not read ${share}: to open .pst and .ost files with "
                     "Lumivex from the file manager, add it to XDG_DATA_DIRS (in ~/.profile) and "
                     "run: update-mime-database '${share}/mime'")
    endif()
  endif()
]])
