#include "gui/page_kit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <stdexcept>

#include "gui/app_context.h"
#include "gui/log.h"
#include "gui/page_texts.h"
#include "gui/stale_look.h"
#include "module/sfp_base.h"

namespace pages {

QComboBox* MakeList(const std::vector<std::string>& items, QWidget* parent) {
  auto* list = new QComboBox(parent);
  for (const std::string& item : items) list->addItem(QString::fromStdString(item));
  list->setCurrentIndex(-1);
  list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  return list;
}

void ShowChecked(QCheckBox* box, bool checked) {
  const QSignalBlocker blocker(box);
  box->setChecked(checked);
}

void ShowIndex(QComboBox* list, int index) {
  const QSignalBlocker blocker(list);
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

QGroupBox* MakeLaneGroup(const QString& caption, int columns,
                         const std::function<LaneCell(int lane)>& make, QWidget* parent) {
  auto* group = new QGroupBox(caption, parent);
  auto* grid = new QGridLayout(group);
  grid->setContentsMargins(6, 4, 6, 6);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(3);
  const bool across = columns >= 4;
  const int rows = (kLanes + columns - 1) / columns;
  for (int lane = 1; lane <= kLanes; ++lane) {
    const int row = across ? (lane - 1) / columns : (lane - 1) % rows;
    const int column = across ? (lane - 1) % columns : (lane - 1) / rows;
    const LaneCell cell = make(lane);
    if (!cell.label) {
      grid->addWidget(cell.control, row, column);
      continue;
    }
    auto* pair = new QHBoxLayout;  // the caption tight against its control
    pair->setSpacing(3);
    pair->addStretch();
    pair->addWidget(cell.label);
    pair->addWidget(cell.control);
    grid->addLayout(pair, row, column);
  }
  return group;
}

const ControlFamily& Control(const char* name) {
  if (const ControlFamily* family = FindControl(name)) return *family;
  throw std::logic_error(std::string("no control family ") + name);
}

const StatusField& Status(const char* name) {
  for (const StatusField& field : FlagsPageFields())
    if (std::string(field.name) == name) return field;
  throw std::logic_error(std::string("no status field ") + name);
}

QCheckBox* PageControls::Check(const ControlFamily& family, int lane, int id, const QString& text) {
  auto* box = Tag(new QCheckBox(text, page_), id);
  views_.push_back({box, family.field, lane});
  QObject::connect(box, &QCheckBox::clicked, page_,
                   [this, &family, lane](bool checked) { Apply(family, lane, checked ? 1 : 0); });
  return box;
}

QComboBox* PageControls::List(const ControlFamily& family, int lane, int id) {
  std::vector<std::string> items(family.items->begin(),
                                 family.items->begin() + family.ItemCount(lane));
  QComboBox* list = Tag(MakeList(items, page_), id);
  views_.push_back({list, family.field, lane});
  // Only a choice from the list counts; setting it from the module does not.
  QObject::connect(list, &QComboBox::activated, page_, [this, &family, lane](int index) {
    if (index >= 0) Apply(family, lane, static_cast<uint8_t>(index));
  });
  return list;
}

QPushButton* PageControls::Button(const ControlFamily& family, int id) {
  auto* button = Tag(new QPushButton(family.caption, page_), id);
  QObject::connect(button, &QPushButton::clicked, page_, [this, &family] { Apply(family, 0, 0); });
  return button;
}

QCheckBox* PageControls::Check(const StatusField& field, int lane, int id, const QString& text) {
  auto* box = Tag(new DisplayCheckBox(text, page_), id);
  box->setLayoutDirection(Qt::RightToLeft);  // the text on the left of the box
  views_.push_back({box, field.field, lane});
  return box;
}

QComboBox* PageControls::List(const StatusField& field, int lane, int id) {
  QComboBox* list = Tag(MakeList(*field.items, page_), id);
  views_.push_back({list, field.field, lane});
  return list;
}

QGroupBox* PageControls::ControlGroup(const GroupRow& group) {
  const ControlFamily& family = Control(group.name);
  return MakeLaneGroup(
      group.caption ? group.caption : family.caption, group.columns,
      [&](int lane) -> LaneCell {
        const QString label = QString::fromStdString(family.LaneLabel(lane));
        if (family.kind == ControlKind::kCheck)
          return {Check(family, lane, group.ids[lane - 1], label)};
        return {List(family, lane, group.ids[lane - 1]), new QLabel(label, page_)};
      },
      page_);
}

QGroupBox* PageControls::StatusGroup(const GroupRow& group) {
  const StatusField& field = Status(group.name);
  return MakeLaneGroup(
      group.caption ? group.caption : field.caption, group.columns,
      [&](int lane) -> LaneCell {
        const QString label = QString::fromStdString(field.LaneLabel(lane));
        if (!field.items) return {Check(field, lane, group.ids[lane - 1], label)};
        return {List(field, lane, group.ids[lane - 1]), new QLabel(label, page_)};
      },
      page_);
}

void PageControls::Apply(const ControlFamily& family, int lane, uint8_t value) {
  CSfpBase& module = app_.Module();
  app_.Link().Run(
      page_, [&module, &family, lane, value] { return family.Apply(module, lane, value); },
      [this, &family, lane](const BoardResult& result) {
        if (result) return;
        const QString text = QString::fromStdString(ControlFailureText(family, lane, result));
        qCWarning(lcGuiKit).noquote() << text;
        emit app_.Signals().StatusText(text);
        if (poller_) poller_->Tick();
      });
}

void PageControls::Show(const ModuleImages& images) const {
  for (const View& view : views_) {
    const uint8_t value = ReadField(images, view.field, view.lane);
    if (auto* box = qobject_cast<QCheckBox*>(view.widget))
      ShowChecked(box, value != 0);
    else if (auto* list = qobject_cast<QComboBox*>(view.widget))
      ShowIndex(list, value);
    const auto spot = Locate(view.field, view.lane);
    ShowStale(view.widget, spot && !images.Current(spot->page, spot->reg));
  }
}

PagePoller::PagePoller(QWidget* page, AppContext& app, int period_ms, Read read, Show show)
    : QObject(page), page_(page), app_(app), read_(std::move(read)), show_(std::move(show)) {
  timer_.setObjectName("refreshTimer");
  timer_.setParent(this);
  connect(&timer_, &QTimer::timeout, this, &PagePoller::Tick);
  timer_.start(period_ms);
}

void PagePoller::Tick() {
  if (!page_->isVisible() || in_flight_) return;
  in_flight_ = true;
  CSfpBase& module = app_.Module();
  app_.Link().Run(
      this,
      [&module, read = read_] {
        read(module);
        return module.Snapshot();
      },
      [this](const ModuleImages& images) {
        in_flight_ = false;
        show_(images);
      });
}

}  // namespace pages
