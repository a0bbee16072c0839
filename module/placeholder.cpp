namespace lw_module_placeholder {}
