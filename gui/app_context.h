// What every view is handed at construction: the board object, the board
// worker, the signals the views send the shell, the main window (as the
// owner of dialogs) and, with the emulated board, its controls.
#pragma once

#include <QWidget>
#include <memory>

#include "board/device.h"
#include "gui/board_link.h"
#include "gui/gui_signals.h"

namespace emu {
class EmulatedBoard;
}
class CSfpBase;

class AppContext {
 public:
  AppContext(std::shared_ptr<HidBackend> backend, std::shared_ptr<emu::EmulatedBoard> emulated);
  ~AppContext();

  CDevice& Device() { return *device_; }
  BoardLink& Link() { return link_; }
  // Status text, diagnostics window and DSP refresh requests to the shell.
  GuiSignals& Signals() { return signals_; }
  QWidget* MainWindow() const { return main_window_; }
  void SetMainWindow(QWidget* window) { main_window_ = window; }
  std::shared_ptr<HidBackend> Backend() const { return backend_; }
  std::shared_ptr<emu::EmulatedBoard> Emulated() const { return emulated_; }
  // The one module object, shared by every page; created on first use (no
  // module traffic). Its operations belong on the board worker.
  CSfpBase& Module();

 private:
  std::shared_ptr<HidBackend> backend_;
  std::shared_ptr<emu::EmulatedBoard> emulated_;
  std::unique_ptr<CDevice> device_;
  std::unique_ptr<CSfpBase> module_;
  GuiSignals signals_;
  BoardLink link_;  // declared after the device: stopped before it is destroyed
  QWidget* main_window_ = nullptr;
};
