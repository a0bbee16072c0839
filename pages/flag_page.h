#pragma once

#include <QWidget>

class AppContext;

class CFlag : public QWidget {
  Q_OBJECT
 public:
  CFlag(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
};
