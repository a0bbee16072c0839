# The HTML report of a run, and the `report` command over a stored run.
lw_add_test(test_report SOURCES report_test.cpp LIBS lw_records)
lw_add_test(test_report_cli SOURCES report_cli_test.cpp LIBS lw_cli)
