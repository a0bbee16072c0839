// The UI thread's event-dispatch delay while the board worker polls the
// emulated board every 100 ms.
#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "bench/ui_probe.h"
#include "board/device.h"
#include "emulator/emulated_board.h"
#include "gui/board_link.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  device.OpenBoard(0);
  BoardLink link;
  int polls = 0;
  QTimer poll;
  poll.setInterval(100);
  QObject::connect(&poll, &QTimer::timeout, &app, [&] {
    link.Run(
        &app,
        [&device] {
          uint8_t buffer[128];
          return device.ReadModule(1, 0xA0, 0x11, 0x80, buffer, 128);
        },
        [&polls](bool) { ++polls; });
  });
  poll.start();
  bench::DispatchProbe probe;
  QTimer::singleShot(5000, &app, &QApplication::quit);
  app.exec();
  std::printf("board polls completed: %d\n", polls);
  bench::PrintDispatch("UI dispatch delay, worker polling 100 ms", probe.Result(), 10, 0);
  return 0;
}
