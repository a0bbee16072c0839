#include "module/ui/flag_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <string_view>

#include "gui/app_context.h"
#include "module/sfp_base.h"
#include "module/ui/sticky_flags.h"

namespace {

using pages::GroupRow;

const GroupRow kModuleState = {"module-state", {1633}};
const GroupRow kInterrupt = {"interrupt", {1087}};
const GroupRow kStateChanged = {"module-state-changed", {1088}};

// The lane groups of the top row, in order.
const GroupRow kLaneGroups[] = {
    {"bank0-lane-flag", {1634, 1635, 1636, 1637, 1638, 1639, 1640, 1641}, 2},
    {"data-path-state", {1642, 1643, 1644, 1645, 1649, 1648, 1647, 1646}, 1},
    {"config-status", {1725, 1726, 1727, 1728, 1732, 1731, 1730, 1729}, 1},
};

// The flag grid: one column of eight lane boxes per flag.
const GroupRow kFlagColumns[] = {
    {"flag-summary", {1650, 1651, 1652, 1653, 1654, 1655, 1656, 1657}},
    {"dp-state-changed", {1658, 1659, 1660, 1661, 1662, 1663, 1664, 1665}},
    {"tx-fault", {1666, 1667, 1668, 1669, 1670, 1671, 1672, 1673}},
    {"tx-los", {1677, 1678, 1679, 1680, 1681, 1682, 1683, 1684}},
    {"tx-cdr-lol", {1685, 1686, 1687, 1688, 1689, 1690, 1691, 1692}},
    {"tx-eq-fault", {1701, 1702, 1703, 1704, 1705, 1706, 1707, 1708}},
    {"rx-los", {1709, 1710, 1711, 1712, 1713, 1714, 1715, 1716}},
    {"rx-cdr-lol", {1717, 1718, 1719, 1720, 1721, 1722, 1723, 1724}},
};
constexpr int kFlagColumnWidth = 96;

}  // namespace

CFlag::CFlag(AppContext& app, QWidget* parent) : QWidget(parent), app_(app), controls_(app, this) {
  app_.Module();  // the shared module object exists from here on
  using pages::Status;

  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(8, 8, 8, 8);
  page->setSpacing(8);
  auto* top = new QHBoxLayout;
  top->setSpacing(8);

  // The uncaptioned module box, with the bank-0 lane flags under it.
  auto* left = new QVBoxLayout;
  auto* module_box = new QGroupBox(this);
  auto* module_layout = new QVBoxLayout(module_box);
  const StatusField& state = Status(kModuleState.name);
  module_layout->addWidget(new QLabel(state.caption, this));
  module_layout->addWidget(controls_.List(state, 0, kModuleState.ids[0]));
  for (const GroupRow* group : {&kInterrupt, &kStateChanged}) {
    const StatusField& field = Status(group->name);
    QCheckBox* box = controls_.Check(field, 0, group->ids[0], field.caption);
    if (group != &kStateChanged) {
      module_layout->addWidget(box);
      continue;
    }
    // The box keeps its caption; its sticky count sits beside it.
    auto* row = new QHBoxLayout;
    row->addWidget(box);
    state_changed_badge_ = new QLabel(this);
    state_changed_badge_->setObjectName("sticky_module-state-changed");
    row->addWidget(state_changed_badge_);
    row->addStretch();
    module_layout->addLayout(row);
    sticky_boxes_.push_back({box, group->name, 0});
  }
  left->addWidget(module_box);
  left->addWidget(controls_.StatusGroup(kLaneGroups[0]));
  left->addStretch();
  top->addLayout(left);
  for (size_t i = 1; i < std::size(kLaneGroups); ++i)
    top->addWidget(controls_.StatusGroup(kLaneGroups[i]), 1, Qt::AlignTop);
  page->addLayout(top);

  // The flag grid: row captions "Ln1" ... "Ln8", a caption over each column.
  auto* flags = new QGroupBox(this);
  auto* grid = new QGridLayout(flags);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(5);
  for (int lane = 1; lane <= kLanes; ++lane)
    grid->addWidget(new QLabel(QStringLiteral("Ln%1").arg(lane), this), lane, 0);
  int column = 1;
  for (const GroupRow& group : kFlagColumns) {
    const StatusField& field = Status(group.name);
    auto* caption = new QLabel(field.caption, this);
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    caption->setFixedWidth(kFlagColumnWidth);
    grid->addWidget(caption, 0, column, Qt::AlignHCenter | Qt::AlignBottom);
    grid->setColumnStretch(column, 1);
    // The flag summary is not a latched flag: no sticky count for it.
    const bool latched = std::string_view(group.name) != "flag-summary";
    for (int lane = 1; lane <= kLanes; ++lane) {
      QCheckBox* box = controls_.Check(field, lane, group.ids[lane - 1], QString());
      grid->addWidget(box, lane, column, Qt::AlignHCenter);
      if (latched) sticky_boxes_.push_back({box, group.name, lane});
    }
    ++column;
  }
  page->addWidget(flags);

  // The flag history: how many latched flags were raised since the last
  // acknowledgement, and the button that clears it.
  auto* history = new QHBoxLayout;
  sticky_summary_ = new QLabel(this);
  sticky_summary_->setObjectName("stickySummary");
  history->addWidget(sticky_summary_, 1);
  auto* acknowledge = new QPushButton("Acknowledge", this);
  acknowledge->setObjectName("acknowledge");
  acknowledge->setToolTip("Clear the counts of the flags raised so far");
  history->addWidget(acknowledge);
  page->addLayout(history);
  page->addStretch();
  connect(acknowledge, &QPushButton::clicked, this, [this] {
    app_.Module().Flags().Acknowledge();  // the reader's own lock, no board traffic
    ShowSticky();
  });

  new pages::PagePoller(
      this, app, kRefreshMs, [](CSfpBase& module) { module.ReadStatusImage(); },
      [this](const ModuleImages& images) {
        controls_.Show(images);
        ShowSticky();
      });
  ShowSticky();
}

void CFlag::ShowSticky() {
  const FlagReader::Snapshot flags = app_.Module().Flags().Get();
  for (const StickyBox& b : sticky_boxes_) {
    const pages::StickyMark mark = pages::Sticky(flags, {b.key}, b.lane);
    b.box->setToolTip(mark.tooltip);
    if (b.lane == 0)
      state_changed_badge_->setText(mark.Badge());
    else
      b.box->setText(mark.Badge());  // lane boxes have no caption of their own
  }
  // Every raised flag, those without a box here (monitor alarms) too.
  int raised = 0;
  for (const FlagReader::Record& r : flags.records) raised += r.Sticky();
  const pages::StickyMark all = pages::StickyAll(flags);
  sticky_summary_->setText(
      raised ? QStringLiteral("Flags raised since the last acknowledgement: %1").arg(raised)
             : QStringLiteral("No flag raised since the last acknowledgement"));
  sticky_summary_->setToolTip(all.tooltip);
}
