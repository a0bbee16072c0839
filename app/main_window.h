// The main window: eight tab pages over a status line, following the test
// board being plugged and unplugged.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "app/status_line.h"
#include "gui/app_context.h"

class QLabel;
class QTabWidget;
class CLineCheck;
class CDsp;
class CCtrl;
class CFlag;
class CStagedCtrlSet0;
class InfoPage;
class CTransferFile;
class CQualify;
class DdmWindow;
class PowerInhibit;

class CLanewrightDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kCaption = "Vorlanix 400Gbps Lanewright V1.0";
  static constexpr int kStatusFontHeight = 24;  // cell height in pixels
  // A board held by another process is tried again this often.
  static constexpr int kBoardRetryMs = 500;
  // Control ids (object names "id<n>") of the tab control and the status line.
  static constexpr int kIdTabs = 1032;
  static constexpr int kIdStatusLine = 1097;
  enum Tab { kChecker, kDsp, kCtrl, kFlag, kSet0, kInfo, kFile, kQualify, kTabCount };

  explicit CLanewrightDlg(std::shared_ptr<HidBackend> backend,
                          std::shared_ptr<emu::EmulatedBoard> emulated = nullptr,
                          QWidget* parent = nullptr);
  ~CLanewrightDlg() override;

  // The start-up sequence (dialog initialisation).
  void Initialize();

  AppContext& Context() { return *context_; }
  QString StatusText() const;
  QTabWidget* Tabs() const { return tabs_; }
  CLineCheck* LineCheck() const { return line_check_; }
  CDsp* Dsp() const { return dsp_; }
  DdmWindow* Ddm() const { return ddm_; }
  CQualify* Qualify() const { return qualify_; }
  QWidget* Page(int tab) const;
  // The board is open, as the board worker last reported.
  bool Connected() const { return connected_; }
  // A listed board is held by another process and is being tried again.
  bool WaitingForBoard() const { return !waiting_path_.empty(); }

  // Enumerates and opens the first matching board on the board worker; the
  // board state follows when the worker is done.
  void SetupBoard();
  void CreatePages();
  void DestroyPages();
  void SetBoardState(const QString& text);
  void ShowDdm(bool show);

 signals:
  // The device watcher saw a device arrive (true) or go, at `path`; emitted
  // on the watcher's thread, handled queued on the user-interface thread.
  void DeviceChanged(bool arrival, const QString& path);

 protected:
  void moveEvent(QMoveEvent* event) override;
  bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override;

 private:
  // Why the board worker tried to open a board.
  enum class Attempt { kStart, kArrival, kRetry };
  struct OpenAttempt {
    bool already_open = false;  // a board was open: nothing was tried
    bool tried = false;         // a listed board was tried (else none is listed at the path)
    std::string path;
    BoardResult result;
  };
  // Board worker: enumerates (publishing the count) and, unless a board is
  // open, opens the listed board at `path`, the first one when empty.
  OpenAttempt TryOpen(const std::string& path);
  void OnOpenAttempt(Attempt why, const OpenAttempt& attempt);
  void OnTabChanged(int index);
  void OnDeviceChange(bool arrival, const QString& path);
  void OnStatusText(const QString& text);
  void StopWaiting();
  void PlaceDdm();
  void ShowStatusMenu(const QPoint& pos);
  void RefreshStatusLabel();

  std::unique_ptr<PowerInhibit> power_;
  std::unique_ptr<AppContext> context_;
  StatusLine status_;
  QTabWidget* tabs_ = nullptr;
  QLabel* status_label_ = nullptr;
  QIcon app_icon_;
  CLineCheck* line_check_ = nullptr;
  CDsp* dsp_ = nullptr;
  CCtrl* ctrl_ = nullptr;
  CFlag* flag_ = nullptr;
  CStagedCtrlSet0* set0_ = nullptr;
  InfoPage* info_ = nullptr;
  CTransferFile* file_ = nullptr;
  CQualify* qualify_ = nullptr;
  DdmWindow* ddm_ = nullptr;
  bool notify_registered_ = false;
  // Matching boards at the latest enumeration, published by the board
  // worker; the status line reads it instead of enumerating.
  std::atomic<int> boards_{0};
  bool connected_ = false;
  std::string waiting_path_;  // the board held by another process
  QTimer retry_timer_;
};
