# The Qt side. lw_appqt is what pages stand on (context, board link,
# messages); lw_gui adds the main window over the page libraries.
add_library(lw_appqt STATIC app_context.cpp messages.cpp stale_look.cpp
  board_link.h app_context.h messages.h stale_look.h dlu.h)
target_link_libraries(lw_appqt PUBLIC lw_appcore lw_board lw_module lw_emulator Qt6::Widgets)

add_library(lw_gui STATIC main_window.cpp power_inhibit.cpp screenshots.cpp
  main_window.h power_inhibit.h screenshots.h)
target_link_libraries(lw_gui PUBLIC
  lw_appqt lw_module lw_signal lw_transfer lw_pages lw_signal_ui lw_transfer_ui
  Qt6::Widgets Qt6::DBus)

add_executable(lanewright main.cpp)
target_link_libraries(lanewright PRIVATE lw_gui lw_version)
