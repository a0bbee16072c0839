# Qualification runs: plans, profiles and the runner on the emulated board;
# the qualify command with its records in SQLite and (label db) PostgreSQL.
lw_add_test(test_qualify SOURCES qualify_test.cpp LIBS lw_qualify lw_emulator)
lw_add_test(test_qualify_cli SOURCES qualify_cli_test.cpp LIBS lw_cli lw_soci)
lw_add_test(test_qualify_db LABEL db SOURCES qualify_db_test.cpp LIBS lw_cli lw_soci)
foreach(t test_qualify test_qualify_cli test_qualify_db)
  target_compile_definitions(${t} PRIVATE LW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endforeach()
