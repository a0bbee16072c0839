// The main window: seven tab pages over a status line, following the test
// board being plugged and unplugged.
#pragma once

#include <QDialog>
#include <QIcon>
#include <array>
#include <memory>

#include "app/app_context.h"
#include "app/status_line.h"

class QLabel;
class QTabWidget;
class CLineCheck;
class CDsp;
class CCtrl;
class CFlag;
class CStagedCtrlSet0;
class CINFO;
class CTransferFile;
class CDDM;
class PowerInhibit;

class CLanewrightDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kCaption = "Vorlanix 400Gbps Lanewright V1.0";
  static constexpr int kStatusFontHeight = 24;  // cell height in pixels
  enum Tab { kChecker, kDsp, kCtrl, kFlag, kSet0, kInfo, kFile, kTabCount };

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
  CDDM* Ddm() const { return ddm_; }
  QWidget* Page(int tab) const;

  void SetupBoard();
  void CreatePages();
  void DestroyPages();
  void SetBoardState(const QString& text);
  void ComposeStatus(const QString& left, const QString& right);
  void ShowDdm(bool show);

 protected:
  bool event(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override;

 private:
  void OnTabChanged(int index);
  void OnDeviceChange(bool arrival, const QString& path);
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
  CINFO* info_ = nullptr;
  CTransferFile* file_ = nullptr;
  CDDM* ddm_ = nullptr;
  bool notify_registered_ = false;
};
