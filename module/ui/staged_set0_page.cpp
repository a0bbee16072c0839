#include "module/ui/staged_set0_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "gui/app_context.h"
#include "module/sfp_base.h"

namespace {

using pages::GroupRow;

// The apply triggers, each with the id of its all-lanes box.
struct Trigger {
  GroupRow group;
  int all_lanes_id;
};
const Trigger kTriggers[] = {
    {{"apply-dp-init", {1696, 1697, 1698, 1699, 1700, 1701, 1702, 1703}, 8}, 1793},
    {{"apply-immediate", {1783, 1776, 1777, 1778, 1782, 1779, 1780, 1781}, 8}, 1794},
};

// The per-lane data path configuration: one group per lane holding a member
// of each of these families.
const GroupRow kLaneConfig[] = {
    {"app-code", {1705, 1707, 1711, 1714, 1717, 1720, 1723, 1726}},
    {"dp-code", {1706, 1709, 1712, 1715, 1718, 1721, 1724, 1727}},
    {"explicit-control", {1708, 1710, 1713, 1716, 1719, 1722, 1725, 1728}},
};

// The signal integrity groups, each with its lanes in rows of four (or two
// columns of four), and the row of the page it sits in.
struct SignalGroup {
  GroupRow group;
  int row;
};
const SignalGroup kSignalGroups[] = {
    {{"adaptive-eq-enable", {1735, 1704, 1729, 1730, 1734, 1731, 1732, 1733}, 4}, 0},
    {{"adaptive-eq-recall", {1736, 1737, 1738, 1739, 1740, 1741, 1742, 1743}, 4}, 0},
    {{"tx-input-eq", {1744, 1745, 1746, 1747, 1748, 1749, 1750, 1751}, 4}, 1},
    {{"tx-cdr", {1759, 1752, 1753, 1754, 1758, 1755, 1756, 1757}, 4}, 0},
    {{"rx-cdr", {1767, 1760, 1761, 1762, 1766, 1763, 1764, 1765}, 2}, 1},
    {{"rx-pre-cursor", {1768, 1769, 1770, 1771, 1772, 1773, 1774, 1775}, 4}, 2},
    {{"rx-post-cursor", {1784, 1785, 1786, 1787, 1788, 1789, 1790, 1791}, 4}, 2},
    {{"rx-amplitude", {1800, 1801, 1802, 1803, 1804, 1805, 1806, 1807}, 4}, 1},
};
constexpr int kSignalRows = 3;

}  // namespace

CStagedCtrlSet0::CStagedCtrlSet0(AppContext& app, QWidget* parent)
    : QWidget(parent), app_(app), controls_(app, this) {
  app_.Module();  // the shared module object exists from here on
  using pages::Control;

  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(8, 8, 8, 8);
  page->setSpacing(6);

  // The triggers, each with its all-lanes box beside it: the box sets all
  // eight lane boxes to its own state and writes the lanes 1 to 8 in order.
  auto* triggers = new QHBoxLayout;
  for (const Trigger& trigger : kTriggers) {
    QGroupBox* group = controls_.ControlGroup(trigger.group);
    group->layout()->setSpacing(2);  // eight lanes across half the page
    std::vector<QCheckBox*> lanes;
    for (int id : trigger.group.ids)
      lanes.push_back(group->findChild<QCheckBox*>(QStringLiteral("id%1").arg(id)));
    auto* all = pages::Tag(new QCheckBox(this), trigger.all_lanes_id);
    const ControlFamily& family = Control(trigger.group.name);
    connect(all, &QCheckBox::clicked, this, [this, &family, lanes](bool checked) {
      for (int lane = 1; lane <= kLanes; ++lane) {
        pages::ShowChecked(lanes[lane - 1], checked);
        controls_.Apply(family, lane, checked ? 1 : 0);
      }
    });
    triggers->addWidget(group, 1);
    auto* beside = new QVBoxLayout;  // level with the group's lane boxes
    beside->setContentsMargins(0, 0, 0, 7);
    beside->addStretch();
    beside->addWidget(all);
    triggers->addLayout(beside);
    triggers->addSpacing(8);
  }
  page->addLayout(triggers);

  // Lane n's configuration: "App Code:" list, then "DP Code:" list with
  // "Ep Ctrl" beside it.
  auto* lanes = new QGridLayout;
  lanes->setSpacing(6);
  const ControlFamily& app_code = Control(kLaneConfig[0].name);
  for (int lane = 1; lane <= kLanes; ++lane) {
    auto* group = new QGroupBox(QString::fromStdString(app_code.LaneLabel(lane)), this);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(8, 4, 8, 6);
    grid->setSpacing(4);
    std::vector<QHBoxLayout*> rows;
    for (const GroupRow& group : kLaneConfig) {
      const ControlFamily& family = Control(group.name);
      const int id = group.ids[lane - 1];
      if (family.kind == ControlKind::kCheck) {  // beside the list above it
        rows.back()->addWidget(controls_.Check(family, lane, id, family.caption));
        continue;
      }
      auto* row = new QHBoxLayout;
      row->setSpacing(6);
      row->addWidget(controls_.List(family, lane, id));
      grid->addWidget(new QLabel(family.caption, this), static_cast<int>(rows.size()), 0);
      grid->addLayout(row, static_cast<int>(rows.size()), 1);
      rows.push_back(row);
    }
    for (QHBoxLayout* row : rows) row->addStretch();
    lanes->addWidget(group, (lane - 1) / 4, (lane - 1) % 4);
  }
  page->addLayout(lanes);

  // Each row of signal integrity groups takes the widths its captions need.
  for (int r = 0; r < kSignalRows; ++r) {
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    for (const SignalGroup& group : kSignalGroups)
      if (group.row == r) row->addWidget(controls_.ControlGroup(group.group));
    page->addLayout(row);
  }
  page->addStretch();

  controls_.SetPoller(new pages::PagePoller(
      this, app, kRefreshMs, [](CSfpBase& module) { module.ReadControlImage(); },
      [this](const ModuleImages& images) { controls_.Show(images); }));
}
