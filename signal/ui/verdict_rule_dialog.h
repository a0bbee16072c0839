// The verdict rule of the "Checker" page: target BER, confidence and the
// errors allowed. A small dialog behind the rule button of the top row and
// the page's context menu.
#pragma once

#include <QDialog>

#include "signal/ber_stats.h"

class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CVerdictRule : public QDialog {
  Q_OBJECT
 public:
  enum Id { kIdTarget = 1401, kIdConfidence, kIdAllowed };

  CVerdictRule(const sigtest::VerdictRule& rule, QWidget* parent = nullptr);
  // The rule as entered; the target of an unreadable entry stays as it was.
  sigtest::VerdictRule Rule() const;

 private:
  sigtest::VerdictRule rule_;
  QLineEdit* target_;
  QDoubleSpinBox* confidence_;
  QSpinBox* allowed_;
  QPushButton* ok_;
};

// "1e-12 · 95%": the rule as the top row shows it.
QString RuleCaption(const sigtest::VerdictRule& rule);
