#include "signal/ui/verdict_rule_dialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "signal/lane_summary.h"
#include "signal/ui/widgets.h"

using sigui::Tag;

namespace {

// A target is a ratio above 0 and below 1: "1e-12", "2.5E-9".
bool ReadTarget(const QString& text, double* target) {
  bool ok = false;
  const double value = text.trimmed().toDouble(&ok);
  if (!ok || !(value > 0 && value < 1)) return false;
  *target = value;
  return true;
}

}  // namespace

QString RuleCaption(const sigtest::VerdictRule& rule) {
  return QStringLiteral("%1 \u00B7 %2%")
      .arg(QString::number(rule.target, 'g', 3))
      .arg(QString::number(rule.confidence * 100.0, 'g', 6));
}

CVerdictRule::CVerdictRule(const sigtest::VerdictRule& rule, QWidget* parent)
    : QDialog(parent), rule_(rule) {
  setWindowTitle(tr("Verdict rule"));
  target_ = Tag(new QLineEdit(QString::number(rule.target, 'g', 6), this), kIdTarget);
  confidence_ = Tag(new QDoubleSpinBox(this), kIdConfidence);
  confidence_->setRange(50.0, 99.9999);
  confidence_->setDecimals(4);
  confidence_->setSuffix(" %");
  confidence_->setValue(rule.confidence * 100.0);
  allowed_ = Tag(new QSpinBox(this), kIdAllowed);
  allowed_->setRange(0, 1000000);
  allowed_->setValue(static_cast<int>(std::min<uint64_t>(rule.allowed_errors, 1000000)));

  auto* form = new QFormLayout;
  form->addRow(tr("Target BER"), target_);
  form->addRow(tr("Confidence"), confidence_);
  form->addRow(tr("Errors allowed"), allowed_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(target_, &QLineEdit::textChanged, this, [this](const QString& text) {
    double value;
    ok_->setEnabled(ReadTarget(text, &value));
  });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

sigtest::VerdictRule CVerdictRule::Rule() const {
  sigtest::VerdictRule rule = rule_;
  ReadTarget(target_->text(), &rule.target);
  rule.confidence = confidence_->value() / 100.0;
  rule.allowed_errors = static_cast<uint64_t>(allowed_->value());
  return rule;
}
