#include "module/ui/ctrl_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/app_context.h"
#include "module/sfp_base.h"

namespace {

using pages::GroupRow;

// The module-wide controls, in the uncaptioned box and under it.
const GroupRow kForceLowPwr = {"force-low-power", {1241}};
const GroupRow kLowPwr = {"low-power", {1304}};
const GroupRow kSoftReset = {"soft-reset", {1632}};
const GroupRow kModuleState = {"module-state", {1633}};
const GroupRow kSquelchMethod = {"squelch-method", {1793}};

// The lane groups and where they sit: row and column of the page's grid.
struct Placed {
  GroupRow group;
  int row, column, column_span;
  bool status;  // display only
};
// clang-format off
const Placed kGroups[] = {
    {{"data-path-state",    {1642, 1643, 1644, 1645, 1649, 1648, 1647, 1646}, 2,
      "Lane Data Path State"},                                                    0, 1, 2, true},
    {{"tx-eq-store",        {1386, 1387, 1388, 1389, 1390, 1391, 1392, 1393}}, 0, 3, 2, false},
    {{"dp-deinit",          {1242, 1243, 1244, 1245, 1289, 1290, 1298, 1299}}, 1, 0, 1, false},
    {{"tx-polarity-flip",   {1246, 1247, 1248, 1300, 1301, 1302, 1303, 1321}}, 1, 1, 1, false},
    {{"tx-disable",         {1322, 1323, 1324, 1325, 1326, 1327, 1328, 1329}}, 1, 2, 1, false},
    {{"tx-squelch-disable", {1330, 1331, 1332, 1333, 1334, 1359, 1360, 1361}}, 1, 3, 1, false},
    {{"tx-force-squelch",   {1617, 1291, 1292, 1293, 1294, 1295, 1296, 1297}}, 1, 4, 1, false},
    {{"tx-eq-freeze",       {1378, 1379, 1380, 1381, 1382, 1383, 1384, 1385}}, 2, 0, 1, false},
    {{"rx-polarity-flip",   {1394, 1395, 1396, 1397, 1398, 1399, 1400, 1401}}, 2, 1, 1, false},
    {{"rx-output-disable",  {1402, 1403, 1404, 1405, 1406, 1407, 1408, 1409}}, 2, 2, 1, false},
    {{"rx-squelch-disable", {1410, 1411, 1412, 1413, 1414, 1415, 1416, 1417}}, 2, 3, 1, false},
};
// clang-format on

}  // namespace

CCtrl::CCtrl(AppContext& app, QWidget* parent) : QWidget(parent), app_(app), controls_(app, this) {
  app_.Module();  // the shared module object exists from here on
  using pages::Control;
  using pages::Status;

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->setSpacing(8);

  // Module-wide: the uncaptioned box, the module state and the squelch method.
  auto* module_column = new QVBoxLayout;
  auto* module_box = new QGroupBox(this);
  auto* module_layout = new QVBoxLayout(module_box);
  for (const GroupRow* group : {&kForceLowPwr, &kLowPwr}) {
    const ControlFamily& family = Control(group->name);
    module_layout->addWidget(controls_.Check(family, 0, group->ids[0], family.caption));
  }
  module_layout->addWidget(controls_.Button(Control(kSoftReset.name), kSoftReset.ids[0]));
  module_column->addWidget(module_box);
  const StatusField& state = Status(kModuleState.name);
  module_column->addWidget(new QLabel(state.caption, this));
  module_column->addWidget(controls_.List(state, 0, kModuleState.ids[0]));
  module_column->addWidget(controls_.List(Control(kSquelchMethod.name), 0, kSquelchMethod.ids[0]));
  module_column->addStretch();
  grid->addLayout(module_column, 0, 0);

  for (const Placed& placed : kGroups) {
    QGroupBox* group =
        placed.status ? controls_.StatusGroup(placed.group) : controls_.ControlGroup(placed.group);
    grid->addWidget(group, placed.row, placed.column, 1, placed.column_span);
  }
  for (int column = 0; column < 5; ++column) grid->setColumnStretch(column, 1);
  grid->setRowStretch(3, 1);

  controls_.SetPoller(new pages::PagePoller(
      this, app, kRefreshMs, [](CSfpBase& module) { module.ReadControlImage(); },
      [this](const ModuleImages& images) { controls_.Show(images); }));
}
