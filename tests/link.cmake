# The board link under faults: late, lost and corrupted answers, failed writes
# and unplugs, one case at a time and in a random soak (label soak).
lw_add_test(test_link SOURCES link_faults_test.cpp LIBS lw_module lw_signal lw_emulator lw_cli)
lw_add_test(test_link_soak LABEL soak SOURCES link_soak_test.cpp LIBS lw_module lw_signal lw_emulator)
