# The module model: register access, the QSFP-DD module object, the live
# emulated module, and the module commands of lanewright-cli.
lw_add_test(test_module
  SOURCES module_access_test.cpp module_operations_test.cpp module_conversions_test.cpp
          module_emulated_test.cpp module_cli_test.cpp module_replay_test.cpp
          module_cmis_test.cpp module_flag_reader_test.cpp
  LIBS lw_module lw_emulator lw_cli)
target_compile_definitions(test_module PRIVATE LW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
