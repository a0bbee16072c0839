# The records of qualification runs: the store on SQLite, where --db points,
# the records commands, and the store on a real PostgreSQL server (label db,
# the fixture in tests/CMakeLists.txt).
lw_add_test(test_records SOURCES records_store_test.cpp records_cli_test.cpp
  LIBS lw_records lw_soci lw_cli)
lw_add_test(test_records_db LABEL db SOURCES records_pg_test.cpp LIBS lw_records lw_soci lw_cli)
