#pragma once

#include <QWidget>

class AppContext;

class CCtrl : public QWidget {
  Q_OBJECT
 public:
  CCtrl(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
};
