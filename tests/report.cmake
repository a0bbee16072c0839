# The HTML report of a run.
lw_add_test(test_report SOURCES report_test.cpp LIBS lw_records)
