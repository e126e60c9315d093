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
