namespace lw_signal_placeholder {}
