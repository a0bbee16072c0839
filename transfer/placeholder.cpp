namespace lw_transfer_placeholder {}
