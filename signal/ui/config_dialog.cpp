#include "signal/ui/config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "gui/app_context.h"
#include "signal/ui/widgets.h"

using sigui::Tag;

namespace {
QComboBox* PatternList(QWidget* parent, int id) {
  auto* box = Tag(new QComboBox(parent), id);
  for (const char* name : sigtest::kPatternListNames) box->addItem(name);
  return box;
}
QComboBox* ThresholdList(QWidget* parent, int id) {
  auto* box = Tag(new QComboBox(parent), id);
  for (int i = 0; i <= 255; ++i) box->addItem(QString::asprintf("%d", i));
  return box;
}
}  // namespace

CConfigCheck::CConfigCheck(AppContext& app, sigtest::CheckerRecord& checker,
                           std::array<sigtest::GeneratorRecord, sigtest::kLanes>& generators,
                           uint8_t all_lanes, QWidget* parent)
    : QDialog(parent),
      app_(app),
      logic_(std::make_unique<sigtest::ConfigCheck>(checker, generators, all_lanes)) {
  setWindowTitle("Config");
  setModal(true);

  auto* checker_box = new QGroupBox("Checker", this);
  auto* cg = new QGridLayout(checker_box);
  checker_lsb_ = PatternList(checker_box, kIdCheckerLsb);
  checker_msb_ = PatternList(checker_box, kIdCheckerMsb);
  error_threshold_ = ThresholdList(checker_box, kIdErrorThreshold);
  cycle_threshold_ = ThresholdList(checker_box, kIdCycleThreshold);
  invert_ = Tag(new QCheckBox("Invert", checker_box), kIdInvert);
  combined_ = Tag(new QRadioButton("Combined", checker_box), kIdCombined);
  msb_lsb_ = Tag(new QRadioButton("MSB/LSB", checker_box), kIdMsbLsb);
  auto_ = Tag(new QCheckBox("Auto", checker_box), kIdAuto);
  cg->addWidget(new QLabel("Pat Sel LSB", checker_box), 0, 0);
  cg->addWidget(checker_lsb_, 0, 1);
  cg->addWidget(new QLabel("Pat Sel MSB", checker_box), 1, 0);
  cg->addWidget(checker_msb_, 1, 1);
  cg->addWidget(new QLabel("Error Threshold", checker_box), 2, 0);
  cg->addWidget(error_threshold_, 2, 1);
  cg->addWidget(new QLabel("Cycle Threshold", checker_box), 3, 0);
  cg->addWidget(cycle_threshold_, 3, 1);
  cg->addWidget(invert_, 4, 0);
  cg->addWidget(auto_, 4, 1);
  cg->addWidget(combined_, 5, 0);
  cg->addWidget(msb_lsb_, 5, 1);

  auto* generator_box = new QGroupBox("Generator", this);
  auto* gg = new QGridLayout(generator_box);
  generator_lsb_ = PatternList(generator_box, kIdGeneratorLsb);
  generator_msb_ = PatternList(generator_box, kIdGeneratorMsb);
  generator_combined_ = Tag(new QCheckBox("Combined", generator_box), kIdGeneratorCombined);
  generator_msb_lsb_ = Tag(new QCheckBox("MSB/LSB", generator_box), kIdGeneratorMsbLsb);
  generator_button_ = Tag(new QPushButton("Start", generator_box), kIdGeneratorStart);
  gg->addWidget(new QLabel("LSB Pattern", generator_box), 0, 0);
  gg->addWidget(generator_lsb_, 0, 1);
  gg->addWidget(new QLabel("MSB Pattern", generator_box), 1, 0);
  gg->addWidget(generator_msb_, 1, 1);
  gg->addWidget(generator_combined_, 2, 0);
  gg->addWidget(generator_msb_lsb_, 2, 1);
  gg->addWidget(generator_button_, 3, 0, 1, 2);

  auto* close = Tag(new QPushButton("Close", this), kIdClose);
  close->setAutoDefault(false);
  generator_button_->setAutoDefault(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(checker_box);
  layout->addWidget(generator_box);
  layout->addWidget(close, 0, Qt::AlignRight);

  ShowForm();
  connect(generator_combined_, &QCheckBox::toggled, this, [this](bool on) {
    logic_->SetGeneratorCombined(on);
    ShowForm();
  });
  connect(generator_msb_lsb_, &QCheckBox::toggled, this, [this](bool on) {
    logic_->SetGeneratorMsbLsb(on);
    ShowForm();
  });
  connect(generator_button_, &QPushButton::clicked, this, &CConfigCheck::PressGenerator);
  connect(close, &QPushButton::clicked, this, &CConfigCheck::OnClose);
}

CConfigCheck::~CConfigCheck() = default;

// Controls -> form (the logic reads the form).
void CConfigCheck::ToForm() {
  auto& f = logic_->GetForm();
  f.checker_lsb = checker_lsb_->currentIndex();
  f.checker_msb = checker_msb_->currentIndex();
  f.error_threshold = error_threshold_->currentIndex();
  f.cycle_threshold = cycle_threshold_->currentIndex();
  f.invert = invert_->isChecked();
  f.combined = combined_->isChecked();
  f.automatic = auto_->isChecked();
  f.generator_lsb = generator_lsb_->currentIndex();
  f.generator_msb = generator_msb_->currentIndex();
}

// Form -> controls, without echoing back.
void CConfigCheck::ShowForm() {
  const auto& f = logic_->GetForm();
  const QList<QWidget*> all = findChildren<QWidget*>();
  std::vector<std::unique_ptr<QSignalBlocker>> blockers;
  for (QWidget* w : all) blockers.push_back(std::make_unique<QSignalBlocker>(w));
  checker_lsb_->setCurrentIndex(f.checker_lsb);
  checker_msb_->setCurrentIndex(f.checker_msb);
  error_threshold_->setCurrentIndex(f.error_threshold);
  cycle_threshold_->setCurrentIndex(f.cycle_threshold);
  invert_->setChecked(f.invert);
  auto_->setChecked(f.automatic);
  combined_->setChecked(f.combined);
  msb_lsb_->setChecked(!f.combined);
  generator_lsb_->setCurrentIndex(f.generator_lsb);
  generator_msb_->setCurrentIndex(f.generator_msb);
  generator_combined_->setChecked(f.generator_combined);
  generator_msb_lsb_->setChecked(f.generator_msb_lsb);
  generator_lsb_->setEnabled(logic_->GeneratorLsbEnabled());
  generator_button_->setText(QString::fromStdString(f.generator_caption));
}

void CConfigCheck::PressGenerator() {
  ToForm();
  sigtest::BoardSteps steps = logic_->PressGenerator();
  ShowForm();
  if (steps.empty()) return;
  CDevice* device = &app_.Device();
  app_.Link().Run([device, steps] { sigtest::RunSteps(*device, steps); });
}

void CConfigCheck::OnClose() {
  ToForm();
  logic_->Close();
  reject();  // the cancel result, as the page ignores it
}
