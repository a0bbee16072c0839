# The module pages and the diagnostics window, offscreen on the emulated board.
if(LW_BUILD_GUI)
  lw_add_test(test_pages QT SOURCES pages_test.cpp LIBS lw_gui)
endif()
