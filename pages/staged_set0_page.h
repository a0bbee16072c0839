#pragma once

#include <QWidget>

class AppContext;

class CStagedCtrlSet0 : public QWidget {
  Q_OBJECT
 public:
  CStagedCtrlSet0(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
};
