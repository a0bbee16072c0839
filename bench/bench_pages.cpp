// The UI thread's event-dispatch delay while the diagnostics window and the
// control page poll the emulated board, as they do beside the "Checker" and
// "Ctrl" tabs.
#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "bench/ui_probe.h"
#include "emulator/emulated_board.h"
#include "gui/app_context.h"
#include "module/ui/ctrl_page.h"
#include "module/ui/ddm_window.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  auto board = std::make_shared<emu::EmulatedBoard>();
  AppContext context(board, board);
  QWidget window;  // the main window: takes the diagnostics window's messages
  window.resize(932, 632);
  context.SetMainWindow(&window);
  context.Device().FindDevices();
  context.Device().OpenBoard(0);

  CCtrl ctrl(context, &window);
  ctrl.resize(930, 570);
  window.show();
  DdmWindow ddm(context, &window);
  ddm.show();
  ddm.StartUpdates();
  // Start the diagnostics refreshes now rather than after the first 3.5 s.
  if (auto* timer = ddm.findChild<QTimer*>("updateTimer")) {
    QTimerEvent tick(timer->timerId());
    QApplication::sendEvent(timer, &tick);
  }

  bench::DispatchProbe probe;
  QTimer::singleShot(9000, &app, &QApplication::quit);
  app.exec();
  context.Link().Stop();
  std::printf("probe samples: %zu, board requests: %zu\n", probe.Samples(), board->RequestCount());
  bench::PrintDispatch("UI dispatch delay, diagnostics + Ctrl polling", probe.Result(), 10, 30);
  return 0;
}
