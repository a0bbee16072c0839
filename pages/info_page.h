#pragma once

#include <QWidget>

class AppContext;

class CINFO : public QWidget {
  Q_OBJECT
 public:
  CINFO(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
};
