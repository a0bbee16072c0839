#pragma once

#include <QWidget>
#include <cstdint>

class AppContext;

class CLineCheck : public QWidget {
  Q_OBJECT
 public:
  CLineCheck(AppContext& app, QWidget* parent = nullptr);
  void StopIfRunning();
  void ApplyPattern(uint8_t index);
  uint8_t LastAppliedPattern() const;
  void SetDivideByTen();
 private:
  AppContext& app_;
};
