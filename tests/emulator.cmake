# The emulated board's state file, at the board and through lanewright-cli.
lw_add_test(test_emulator_state
  SOURCES emulator_state_test.cpp emulator_state_cli_test.cpp
  LIBS lw_cli lw_emulator)
target_compile_definitions(test_emulator_state PRIVATE LW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
