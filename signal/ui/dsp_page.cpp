#include "signal/ui/dsp_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <tuple>

#include "gui/app_context.h"
#include "gui/dlu.h"
#include "gui/log.h"
#include "gui/stale_look.h"
#include "signal/ui/line_check_page.h"
#include "signal/ui/widgets.h"

using namespace sigtest;
using sigui::Tag;

namespace {

QWidget* MakeControl(QWidget* parent, const DspControlRef& c, int id) {
  switch (c.field->control) {
    case DspControl::kList: {
      auto* box = Tag(new QComboBox(parent), id);
      for (const char* name : DspListFor(*c.field, c.entry)) box->addItem(name);
      // "AFE Trim" lists are editable; the position still decides the value.
      if (std::string(c.field->key) == "afe_trim") {
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
      }
      return box;
    }
    case DspControl::kCheck: {
      auto* check = Tag(new QCheckBox(parent), id);
      check->setAccessibleName(c.field->label);
      return check;
    }
    case DspControl::kNumber: {
      auto* edit = Tag(new QLineEdit(parent), id);
      // Decimal 0-65535: digits only here; WRITE checks the range.
      edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), edit));
      edit->setMaximumWidth(Dlu(34));
      edit->setAccessibleName(c.field->label);
      return edit;
    }
  }
  return nullptr;
}

QString Label(const char* text) { return QString::fromUtf8(text); }

}  // namespace

CDsp::CDsp(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  const auto& refs = DspControls();
  controls_.resize(refs.size(), nullptr);
  auto control_index = [&](const DspField* field, int entry) {
    for (size_t i = 0; i < refs.size(); ++i)
      if (refs[i].field == field && refs[i].entry == entry) return i;
    return refs.size();
  };

  // The top area, three rows: the mode lists and "Rate:"; the divider lists
  // and "Pat Sel:"; power and the buttons. Each row is its own box so every
  // list keeps the width of its longest entry.
  auto* mode_row = new QHBoxLayout;
  auto* divider_row = new QHBoxLayout;
  divider_row->addWidget(new QLabel("Div Ratio", this));
  for (size_t i = 0; i < refs.size(); ++i) {
    if (refs[i].field->section != DspSection::kGlobal) continue;
    controls_[i] = MakeControl(this, refs[i], kIdTable + static_cast<int>(i));
    const bool monclk = std::string(refs[i].field->key).rfind("monclk", 0) == 0;
    QHBoxLayout* row = monclk ? divider_row : mode_row;
    row->addSpacing(monclk ? 6 : (row->isEmpty() ? 0 : 12));
    row->addWidget(new QLabel(Label(refs[i].field->label), this));
    row->addWidget(controls_[i]);
  }
  rate_ = Tag(new QComboBox(this), kIdRate);
  pattern_ = Tag(new QComboBox(this), kIdPattern);
  for (const char* name : kPatternListNames) pattern_->addItem(name);
  for (auto [row, label, list] :
       {std::tuple{mode_row, "Rate:", rate_}, {divider_row, "Pat Sel:", pattern_}}) {
    row->addStretch();
    row->addWidget(new QLabel(label, this));
    row->addWidget(list);
  }
  auto* power = new QHBoxLayout;
  volts_ = Tag(new QLineEdit(this), kIdVolts);
  amps_ = Tag(new QLineEdit(this), kIdAmps);
  watts_ = Tag(new QLineEdit(this), kIdWatts);
  for (auto [label, edit] : {std::pair{"V:", volts_}, {"I:", amps_}, {"P:", watts_}}) {
    edit->setReadOnly(true);
    edit->setMaximumWidth(Dlu(34));
    power->addWidget(new QLabel(label, this));
    power->addWidget(edit);
  }
  power->addStretch();
  auto* read = Tag(new QPushButton("READ", this), kIdRead);
  auto* write = Tag(new QPushButton("WRITE", this), kIdWrite);
  auto* save = Tag(new QPushButton("SAVE", this), kIdSave);
  for (auto* b : {read, write, save}) {
    b->setAutoDefault(false);
    power->addWidget(b);
  }

  // The two row sections, their columns from the table.
  auto section_box = [&](DspSection section, const char* title, std::span<const DspRow> rows) {
    auto* box = new QGroupBox(title, this);
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(1);
    grid->setContentsMargins(4, 2, 4, 2);
    int col = 1;
    for (const auto& field : DspFields()) {
      if (field.section != section) continue;
      grid->addWidget(new QLabel(Label(field.label), box), 0, col, Qt::AlignCenter);
      for (size_t r = 0; r < rows.size(); ++r) {
        const size_t i = control_index(&field, rows[r].entry);
        controls_[i] = MakeControl(box, refs[i], kIdTable + static_cast<int>(i));
        grid->addWidget(controls_[i], static_cast<int>(r) + 1, col,
                        field.control == DspControl::kCheck ? Qt::AlignCenter : Qt::Alignment());
      }
      ++col;
    }
    for (size_t r = 0; r < rows.size(); ++r)
      grid->addWidget(new QLabel(rows[r].label, box), static_cast<int>(r) + 1, 0);
    return box;
  };

  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(2);
  layout->addLayout(mode_row);
  layout->addLayout(divider_row);
  layout->addLayout(power);
  layout->addWidget(section_box(DspSection::kTx, "Line TX:", kTxRows));
  layout->addWidget(section_box(DspSection::kRx, "Line RX:", kRxRows));
  layout->addStretch();
  for (QComboBox* box : findChildren<QComboBox*>()) box->setMaximumHeight(Dlu(13));
  for (QComboBox* box : {rate_, pattern_}) box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  for (size_t i = 0; i < refs.size(); ++i)
    if (refs[i].field->section == DspSection::kGlobal)
      static_cast<QComboBox*>(controls_[i])->setSizeAdjustPolicy(QComboBox::AdjustToContents);

  connect(read, &QPushButton::clicked, this, [this] { Read(); });
  connect(write, &QPushButton::clicked, this, &CDsp::Write);
  connect(save, &QPushButton::clicked, this, &CDsp::Save);
  const size_t signalling = control_index(FindDspField(DspSection::kGlobal, "signalling"), 0);
  connect(static_cast<QComboBox*>(controls_[signalling]), &QComboBox::currentIndexChanged, this,
          [this](int index) {
            if (index != 0 && index != 1) return;
            FillRates(index, 0);
            ReportFromSelections();
          });
  connect(rate_, &QComboBox::currentIndexChanged, this, [this] { ReportFromSelections(); });
  connect(pattern_, &QComboBox::currentIndexChanged, this, [this] { ReportFromSelections(); });

  ReadBlock(Tell::kStatusLine);
}

CDsp::~CDsp() = default;

void CDsp::SetLineCheckWindow(CLineCheck* line_check) {
  disconnect(to_line_check_);
  if (line_check)
    to_line_check_ = connect(this, &CDsp::ModeReported, line_check, &CLineCheck::OnModeReport,
                             Qt::QueuedConnection);
}

int CDsp::Selection(const char* key) const {
  const auto& refs = DspControls();
  for (size_t i = 0; i < refs.size(); ++i)
    if (refs[i].field->section == DspSection::kGlobal && std::string(refs[i].field->key) == key)
      return static_cast<QComboBox*>(controls_[i])->currentIndex();
  return -1;
}

void CDsp::FillRates(int signalling, int selection) {
  QSignalBlocker block(rate_);
  rate_->clear();
  for (const char* name : DspRateNames(signalling)) rate_->addItem(name);
  rate_->setCurrentIndex(selection);
}

void CDsp::ShowBlock() {
  std::vector<std::unique_ptr<QSignalBlocker>> blockers;
  for (QWidget* w : findChildren<QWidget*>())
    blockers.push_back(std::make_unique<QSignalBlocker>(w));
  const auto values = model_.Values();
  for (size_t i = 0; i < controls_.size(); ++i) {
    const DspValue& v = values[i];
    switch (DspControls()[i].field->control) {
      case DspControl::kList:
        static_cast<QComboBox*>(controls_[i])->setCurrentIndex(v.selection);
        break;
      case DspControl::kCheck:
        static_cast<QCheckBox*>(controls_[i])->setChecked(v.checked);
        break;
      case DspControl::kNumber:
        static_cast<QLineEdit*>(controls_[i])->setText(QString::fromStdString(v.text));
        break;
    }
  }
  FillRates(model_.Signalling(), model_.RateSelection());
}

bool CDsp::PowerStale() const { return IsStale(volts_); }

void CDsp::ShowPower(const PowerReading& power, const BoardResult& result) {
  // A failed read is no reading: the fields keep the last one, greyed.
  for (QLineEdit* edit : {volts_, amps_, watts_}) ShowStale(edit, !result);
  if (!result) return;
  model_.SetPower(power);
  volts_->setText(QString::asprintf("%.2f", static_cast<double>(power.volts)));
  amps_->setText(QString::asprintf("%.2f", static_cast<double>(power.amps)));
  watts_->setText(QString::asprintf("%.2f", static_cast<double>(power.watts)));
}

std::vector<DspValue> CDsp::Values() const {
  std::vector<DspValue> values(controls_.size());
  for (size_t i = 0; i < controls_.size(); ++i) {
    switch (DspControls()[i].field->control) {
      case DspControl::kList:
        values[i].selection = static_cast<QComboBox*>(controls_[i])->currentIndex();
        break;
      case DspControl::kCheck:
        values[i].checked = static_cast<QCheckBox*>(controls_[i])->isChecked();
        break;
      case DspControl::kNumber:
        values[i].text = static_cast<QLineEdit*>(controls_[i])->text().toStdString();
        break;
    }
  }
  return values;
}

void CDsp::Read() { ReadBlock(Tell::kMessageBox); }

void CDsp::ReadBlock(Tell tell) {
  struct Result {
    BoardResult read;
    DspBlock block;
    PowerReading power;
    BoardResult power_read;
  };
  CDevice* device = &app_.Device();
  const uint64_t writes = writes_;
  app_.Link().Run(
      this,
      [device] {
        Result r;
        r.read = ReadDspBlock(*device, r.block);
        r.power = ReadPower(*device, &r.power_read);
        return r;
      },
      [this, writes, tell](const Result& r) {
        ShowPower(r.power, r.power_read);
        // A WRITE pressed since this READ went out holds newer values.
        if (writes != writes_) return;
        if (!r.read) {
          // Nothing is set from a block that did not arrive whole.
          const QString text = QString::fromStdString(ReadFailedMessage(r.read));
          if (tell == Tell::kMessageBox) {
            Message(text, true);
          } else if (r.read.status != BoardStatus::kNotOpen) {
            // Without a board the board state says it already.
            last_message_ = text;
            qCWarning(lcGuiSignal).noquote() << text;
            emit app_.Signals().StatusText(text);
          }
          return;
        }
        model_.Block() = r.block;
        ShowBlock();
        QSignalBlocker block(pattern_);
        pattern_->setCurrentIndex(model_.Pattern());
      });
}

bool CDsp::Write() {
  if (auto error = model_.PrepareWrite(Values(), rate_->currentIndex())) {
    Message(tr("Nothing was written. %1").arg(QString::fromStdString(*error)), true);
    return false;
  }
  CDevice* device = &app_.Device();
  const DspBlock block = model_.Block();
  ++writes_;
  app_.Link().Run(
      this, [device, block] { return WriteDspBlock(*device, block); },
      [this](const BoardResult& r) {
        if (!r) Message(QString::fromStdString(WriteFailedMessage(r)), true);
      });
  ReportFromSelections();
  return true;
}

void CDsp::Save() {
  struct Result {
    bool sent;
    std::string reason;
  };
  CDevice* device = &app_.Device();
  app_.Link().Run(
      this,
      [device] {
        const auto r = SaveDsp(*device);
        return Result{r.ok(), r.ok() ? std::string() : r.Text()};
      },
      [this](const Result& r) {
        Message(QString::fromStdString(SaveMessage(r.sent, r.reason)), !r.sent);
      });
}

void CDsp::Refresh() {
  struct Result {
    PowerReading power;
    BoardResult read;
  };
  CDevice* device = &app_.Device();
  app_.Link().Run(
      this,
      [device] {
        Result r;
        r.power = ReadPower(*device, &r.read);
        return r;
      },
      [this](const Result& r) {
        ShowPower(r.power, r.read);
        if (isVisible()) {
          FillRates(model_.Signalling(), model_.RateSelection());
          QSignalBlocker block(pattern_);
          pattern_->setCurrentIndex(model_.Pattern());
        }
        SendReport(model_.PeriodicReport());
      });
}

void CDsp::ReportFromSelections() {
  SendReport(model_.ReportFromSelections(pattern_->currentIndex(), rate_->currentIndex(),
                                         Selection("signalling")));
}

void CDsp::SendReport(const ModeReport& report) { emit ModeReported(report); }

void CDsp::Message(const QString& text, bool warning) {
  last_message_ = text;
  // Not modal to the event loop: the page goes on while the box is up.
  auto* box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information, "Dsp",
                              text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void CDsp::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}
