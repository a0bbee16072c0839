# The EEPROM transfer: page files, load and check against the emulated board,
# the board's side of the mailbox, and the command-line tool.
lw_add_test(test_transfer
  SOURCES transfer_page_file_test.cpp transfer_engine_test.cpp transfer_mailbox_test.cpp
  LIBS lw_transfer lw_emulator)
target_compile_definitions(test_transfer PRIVATE LW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
lw_add_test(test_transfer_cli SOURCES transfer_cli_test.cpp LIBS lw_cli)
if(LW_BUILD_GUI)
  lw_add_test(test_transfer_page QT SOURCES transfer_page_test.cpp LIBS lw_gui)
endif()
