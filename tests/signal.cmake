# The signal test: engines and the PRBS model against the emulated board,
# the CLI's ber/dsp/power commands, and (with the GUI) the pages.
lw_add_test(test_signal SOURCES signal_test.cpp signal_dsp_test.cpp signal_ber_stats_test.cpp
  signal_ber_history_test.cpp
  LIBS lw_signal lw_emulator)
lw_add_test(test_signal_cli SOURCES signal_cli_test.cpp LIBS lw_cli)
if(LW_BUILD_GUI)
  lw_add_test(test_signal_ui QT SOURCES signal_ui_test.cpp LIBS lw_gui)
endif()
