// The "INFO" page: the plugged module's identification, fourteen rows of
// label and value drawn straight onto the page. Each time the page is shown
// or needs repainting one read pass runs on the board worker; the paint
// draws the rows of the last pass, greying the rows it could not read.
// Below the rows a read-only panel shows what the same pass decoded of the
// module's advertisement, flags, media, checksums and tuning, greyed when the
// pass could not read it all. (Its class was called CINFO once.)
#pragma once

#include <QWidget>
#include <vector>

#include "module/info.h"

class AppContext;
class QPlainTextEdit;

class InfoPage : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRowPitch = 22;
  static constexpr int kValueX = 200;

  InfoPage(AppContext& app, QWidget* parent = nullptr);
  // The rows of the last finished pass (empty before the first).
  const std::vector<InfoRow>& Rows() const { return rows_; }
  // Passes started so far.
  int Passes() const { return passes_; }
  // The panel under the rows.
  QPlainTextEdit* Panel() const { return panel_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void RequestPass();

  AppContext& app_;
  std::vector<InfoRow> rows_;
  QPlainTextEdit* panel_ = nullptr;
  int passes_ = 0;
  bool in_flight_ = false;
  bool again_ = false;           // a paint came during the pass: one more afterwards
  bool showing_result_ = false;  // the coming paint shows a pass's result
  bool failure_shown_ = false;   // the status line tells of rows not read
};
