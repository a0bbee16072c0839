# Qualification runs: plans, profiles and the runner on the emulated board.
lw_add_test(test_qualify SOURCES qualify_test.cpp LIBS lw_qualify lw_emulator)
target_compile_definitions(test_qualify PRIVATE LW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
