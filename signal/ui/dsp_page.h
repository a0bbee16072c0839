#pragma once

#include <QWidget>

class AppContext;

class CDsp : public QWidget {
  Q_OBJECT
 public:
  CDsp(AppContext& app, QWidget* parent = nullptr);
  void SetLineCheckWindow(QObject* line_check);
  void Refresh();
  bool ResendFlag() const;
  void SetResendFlag(bool on);
 private:
  AppContext& app_;
};
