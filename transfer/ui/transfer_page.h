#pragma once

#include <QWidget>

class AppContext;

class CTransferFile : public QWidget {
  Q_OBJECT
 public:
  CTransferFile(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
};
