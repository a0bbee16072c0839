# The Qualify tab, offscreen on the emulated board, storing into a temporary
# data directory.
if(LW_BUILD_GUI)
  lw_add_test(test_qualify_ui QT SOURCES qualify_ui_test.cpp LIBS lw_qualify_ui lw_emulator)
endif()
