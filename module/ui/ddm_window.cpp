#include "module/ui/ddm_window.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>
#include <string_view>

#include "gui/app_context.h"
#include "module/ddm.h"
#include "module/sfp_base.h"
#include "module/ui/sticky_flags.h"

namespace {

const QColor kGreen(0, 188, 0);  // 0xBC00
const QColor kRed(255, 0, 0);    // 0xFF
// Not a reading: the last refresh failed to read it, or the board is gone.
const QColor kStale(150, 150, 150);

// The readings in the order of the window's fields.
std::vector<const DdmValue*> InOrder(const DdmReadings& r) {
  std::vector<const DdmValue*> out = {&r.temperature, &r.vcc};
  for (int i = 0; i < kLanes; ++i) {
    out.push_back(&r.bias[i]);
    out.push_back(&r.tx_power[i]);
    out.push_back(&r.rx_power[i]);
  }
  return out;
}

void SetTextColour(QLineEdit* field, const QColor& colour) {
  QPalette palette = field->palette();
  palette.setColor(QPalette::Text, colour);
  field->setPalette(palette);
}

QLineEdit* MakeValueField(const DdmValue& v, QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(v.lane ? QStringLiteral("%1_%2").arg(v.name).arg(v.lane) : QString(v.name));
  field->setReadOnly(true);
  field->setFocusPolicy(Qt::NoFocus);  // never a caret in a value field
  field->setAlignment(Qt::AlignRight);
  QFont bold = field->font();
  bold.setWeight(QFont::Bold);
  field->setFont(bold);
  // Room for the widest value: -128.00 degC, -40.00 dBm, 131.07 mA.
  field->setFixedWidth(field->fontMetrics().horizontalAdvance(v.lane ? "-40.00" : "-128.00") + 10);
  SetTextColour(field, kGreen);
  return field;
}

// The latched flags of a value: its four alarm and warning flags.
std::vector<const char*> FlagKeys(const char* value_name) {
  const std::string_view name(value_name);
  if (name == "TEMP")
    return {"temp-high-alarm", "temp-low-alarm", "temp-high-warning", "temp-low-warning"};
  if (name == "VCC")
    return {"vcc-high-alarm", "vcc-low-alarm", "vcc-high-warning", "vcc-low-warning"};
  if (name == "BIAS")
    return {"tx-bias-high-alarm", "tx-bias-low-alarm", "tx-bias-high-warning",
            "tx-bias-low-warning"};
  if (name == "TX_PWR")
    return {"tx-power-high-alarm", "tx-power-low-alarm", "tx-power-high-warning",
            "tx-power-low-warning"};
  if (name == "RX_PWR")
    return {"rx-power-high-alarm", "rx-power-low-alarm", "rx-power-high-warning",
            "rx-power-low-warning"};
  return {};
}

QGridLayout* GroupGrid(QGroupBox* group) {
  auto* grid = new QGridLayout(group);
  grid->setContentsMargins(6, 2, 6, 4);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);
  return grid;
}

}  // namespace

DdmWindow::DdmWindow(AppContext& app, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), app_(app) {
  app_.Module();  // the shared module object exists from here on
  setObjectName("ddm");

  auto* frame = new QVBoxLayout(this);
  frame->setContentsMargins(6, 4, 6, 6);
  frame->setSpacing(4);
  auto* module_group = new QGroupBox("Module", this);
  QGridLayout* module_grid = GroupGrid(module_group);
  auto* channels = new QGridLayout;
  channels->setSpacing(4);
  frame->addWidget(module_group);
  frame->addLayout(channels);

  // Captions and units as the module's readings name them; "Module" across
  // the top, channels 1-4 down the left column and 5-8 down the right one.
  const DdmReadings names = DecodeDdm(ModuleImages{});
  std::vector<QGridLayout*> channel_grids(kLanes + 1, nullptr);
  for (const DdmValue* v : InOrder(names)) {
    // Module values side by side, a channel's values one under the other;
    // each value is a caption, a field and a unit.
    QGridLayout* grid = module_grid;
    int row = 0, column = module_grid->count();
    if (v->lane != 0) {
      QGridLayout*& g = channel_grids[v->lane];
      if (!g) {
        auto* group = new QGroupBox(QStringLiteral("Channel %1").arg(v->lane), this);
        g = GroupGrid(group);
        channels->addWidget(group, (v->lane - 1) % 4, (v->lane - 1) / 4);
      }
      grid = g;
      row = g->count() / 3;
      column = 0;
    }
    grid->addWidget(new QLabel(v->name, this), row, column);
    QLineEdit* field = MakeValueField(*v, this);
    grid->addWidget(field, row, column + 1);
    grid->addWidget(new QLabel(QString::fromUtf8(v->unit), this), row, column + 2);
    fields_.push_back(field);
    sticky_keys_.push_back(FlagKeys(v->name));
  }
  adjustSize();

  timer_.setParent(this);
  timer_.setObjectName("updateTimer");
  connect(&timer_, &QTimer::timeout, this, &DdmWindow::Refresh);
}

void DdmWindow::StartUpdates() { timer_.start(kFirstPeriodMs); }

void DdmWindow::StopUpdates() {
  timer_.stop();
  emit app_.Signals().StatusText(QString());
  // The values stay on screen, no longer as readings.
  for (QLineEdit* field : fields_) SetTextColour(field, kStale);
}

void DdmWindow::Refresh() {
  if (!isVisible()) return;  // hidden: the timer runs on, nothing is read
  timer_.start(kPeriodMs);
  if (in_flight_) return;  // the last refresh has not come back yet
  in_flight_ = true;
  emit app_.Signals().RefreshDspRequested();
  CSfpBase& module = app_.Module();
  app_.Link().Run(
      this,
      [&module] {
        module.ReadMonitors();
        module.ReadAlarmImage();
        return module.Snapshot();
      },
      [this](const ModuleImages& images) {
        in_flight_ = false;
        Show(images);
        ShowSticky();
      });
}

void DdmWindow::ShowSticky() {
  const FlagReader::Snapshot flags = app_.Module().Flags().Get();
  const DdmReadings names = DecodeDdm(ModuleImages{});
  const std::vector<const DdmValue*> values = InOrder(names);
  for (size_t i = 0; i < fields_.size(); ++i) {
    const pages::StickyMark mark = pages::Sticky(flags, sticky_keys_[i], values[i]->lane);
    // Underlined while it has a history: the width and colours stay as they are.
    QFont font = fields_[i]->font();
    if (font.underline() != mark.Any()) {
      font.setUnderline(mark.Any());
      fields_[i]->setFont(font);
    }
    fields_[i]->setToolTip(mark.tooltip);
  }
}

void DdmWindow::Show(const ModuleImages& images) {
  const DdmReadings readings = DecodeDdm(images);
  const std::vector<const DdmValue*> values = InOrder(readings);
  for (size_t i = 0; i < fields_.size(); ++i) {
    // A value the module does not give says so ("n/a", "unknown"), greyed:
    // never a number.
    if (!values[i]->HasReading()) {
      fields_[i]->setText(QString::fromStdString(values[i]->text));
      SetTextColour(fields_[i], kStale);
      continue;
    }
    // A value the refresh could not read keeps the last reading, greyed.
    if (!values[i]->current) {
      SetTextColour(fields_[i], kStale);
      continue;
    }
    fields_[i]->setText(QString::fromStdString(values[i]->text));
    SetTextColour(fields_[i], values[i]->Flagged() ? kRed : kGreen);
  }
}

void DdmWindow::paintEvent(QPaintEvent*) {
  // A frameless window: a thin edge sets it off from the page under it.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
