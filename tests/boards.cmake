# Many boards: the emulated board standing for N boards, running on every
# board in parallel, --board all; and the emulated module's faults.
lw_add_test(test_boards
  SOURCES boards_test.cpp emulator_faults_test.cpp
  LIBS lw_cli lw_module lw_emulator)
target_compile_definitions(test_boards PRIVATE LW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
