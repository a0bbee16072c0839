// The "File" page: pick a page file, load its image into the EEPROM through the
// board, check it by reading it back. A view over transfer::TransferEngine,
// which runs the transfer step by step on the app's board worker, between the
// other pages' polls, and reaches this page only through queued events.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "transfer/transfer_engine.h"

class AppContext;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class CTransferFile : public QWidget {
  Q_OBJECT
 public:
  CTransferFile(AppContext& app, QWidget* parent = nullptr);
  ~CTransferFile() override;

 private:
  void BrowsePageFile();
  void AppendLog(const QString& text);
  void ShowTransferProgress(int percent);
  void ShowActivity(const transfer::Activity& activity);
  void ShowMessage(const QString& text);

  AppContext& app_;
  QLineEdit* path_edit_ = nullptr;    // 33049
  QPushButton* browse_ = nullptr;     // 33050
  QProgressBar* progress_ = nullptr;  // 33051
  QPushButton* load_ = nullptr;       // 33052
  QPlainTextEdit* log_ = nullptr;     // 33053
  QPushButton* cancel_ = nullptr;     // 33054
  QPushButton* check_ = nullptr;      // 33055
  QString file_path_;
  QString log_text_;  // everything logged since the page was created
  transfer::Activity activity_;
  std::unique_ptr<transfer::TransferEngine> engine_;
};
