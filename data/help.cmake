# The help pages, copied beside the programs (bin/help/) whenever they change.
file(GLOB LUMIVEX_HELP_PAGES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/help/*)
set(LUMIVEX_HELP_COPIES)
foreach(page ${LUMIVEX_HELP_PAGES})
  get_filename_component(name ${page} NAME)
  add_custom_command(OUTPUT ${LUMIVEX_OUTPUT_DIR}/help/${name}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${page} ${LUMIVEX_OUTPUT_DIR}/help/${name}
    DEPENDS ${page} VERBATIM)
  list(APPEND LUMIVEX_HELP_COPIES ${LUMIVEX_OUTPUT_DIR}/help/${name})
endforeach()
add_custom_target(lumivex_help ALL DEPENDS ${LUMIVEX_HELP_COPIES})
add_dependencies(lumivex lumivex_help)
