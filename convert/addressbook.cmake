target_sources(lumivex_core PRIVATE AddressBookExport.cpp)
# The export copies the template beside the programs.
add_dependencies(lumivex_core lumivex_wab_template)
