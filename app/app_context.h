// What every page is handed at construction: the board object, the board
// worker, the main window and, with the emulated board, its controls.
#pragma once

#include <QWidget>
#include <memory>

#include "app/board_link.h"
#include "board/device.h"

namespace emu {
class EmulatedBoard;
}

class AppContext {
 public:
  AppContext(std::shared_ptr<HidBackend> backend, std::shared_ptr<emu::EmulatedBoard> emulated);
  ~AppContext();

  CDevice& Device() { return *device_; }
  BoardLink& Link() { return link_; }
  QWidget* MainWindow() const { return main_window_; }
  void SetMainWindow(QWidget* window) { main_window_ = window; }
  std::shared_ptr<HidBackend> Backend() const { return backend_; }
  std::shared_ptr<emu::EmulatedBoard> Emulated() const { return emulated_; }

 private:
  std::shared_ptr<HidBackend> backend_;
  std::shared_ptr<emu::EmulatedBoard> emulated_;
  std::unique_ptr<CDevice> device_;
  BoardLink link_;  // declared after the device: stopped before it is destroyed
  QWidget* main_window_ = nullptr;
};
