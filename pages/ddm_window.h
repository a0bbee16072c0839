#pragma once

#include <QWidget>

class AppContext;

class CDDM : public QWidget {
  Q_OBJECT
 public:
  CDDM(AppContext& app, QWidget* parent = nullptr);
  void StartUpdates();
  void StopUpdates();
 private:
  AppContext& app_;
};
