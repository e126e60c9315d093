namespace lumivex_wab_placeholder {}
