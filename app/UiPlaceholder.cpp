namespace lumivex_ui_placeholder {}
