// Building blocks of the module pages: controls that carry their control id,
// lane groups built from a table row, setting a control from the module
// without firing its handler, and the refresh timer every polling page shares.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "gui/control_id.h"
#include "module/controls.h"
#include "module/module_images.h"
#include "module/status_fields.h"

class AppContext;
class CSfpBase;
class QGridLayout;
class QPushButton;

namespace pages {

using LaneIds = std::array<int, kLanes>;

using gui::Tag;

// A check box that shows a state and cannot be toggled by the user.
class DisplayCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override {}
};

// A drop-down list of fixed items (no text can be typed into it).
QComboBox* MakeList(const std::vector<std::string>& items, QWidget* parent);

// Sets a control from the module with its signals blocked, so that no
// handler runs and nothing is written back. An index without an item
// leaves the list without a selection.
void ShowChecked(QCheckBox* box, bool checked);
void ShowIndex(QComboBox* list, int index);

// A group box holding eight lane controls in `columns` columns: lanes 1-4
// down the left column and 5-8 down the right one with two columns, lanes
// 1-4 across the top row and 5-8 across the next with four.
// `make` creates lane n's control and its caption label, if it has one.
struct LaneCell {
  QWidget* control;
  QWidget* label = nullptr;  // shown to the left of the control
};
QGroupBox* MakeLaneGroup(const QString& caption, int columns,
                         const std::function<LaneCell(int lane)>& make, QWidget* parent);

// One row of a page's table: a module control family or status field by
// name, the control ids of its lanes (the first only, for a module-wide one)
// and how many columns its group box lays its eight lanes out in. The
// caption is the family's unless the row gives its own.
struct GroupRow {
  const char* name;
  LaneIds ids;
  int columns = 2;
  const char* caption = nullptr;
};

const ControlFamily& Control(const char* name);
const StatusField& Status(const char* name);

class PagePoller;

// The controls of one page, each bound to a lane of a module field. The
// controls of a control family call its setter on the board worker, in
// order, when the user acts on them; a setter that fails puts its message
// in the status line and has the page refreshed at once, so the control
// goes back to what the module holds. Show() sets every control from a
// snapshot without firing any handler, greying those whose register was not
// read.
class PageControls {
 public:
  PageControls(AppContext& app, QWidget* page) : app_(app), page_(page) {}

  // Control family members. A check box's text is `text`.
  QCheckBox* Check(const ControlFamily& family, int lane, int id, const QString& text);
  QComboBox* List(const ControlFamily& family, int lane, int id);
  QPushButton* Button(const ControlFamily& family, int id);
  // Display-only members of a status field.
  QCheckBox* Check(const StatusField& field, int lane, int id, const QString& text);
  QComboBox* List(const StatusField& field, int lane, int id);

  // A group box with the eight lanes of a row: check boxes carrying the
  // lane captions, or lists with the lane captions beside them.
  QGroupBox* ControlGroup(const GroupRow& group);
  QGroupBox* StatusGroup(const GroupRow& group);

  // Calls the family's setter on the board worker, in order.
  void Apply(const ControlFamily& family, int lane, uint8_t value);
  void Show(const ModuleImages& images) const;
  // The page's refresh, run after a failed setter.
  void SetPoller(PagePoller* poller) { poller_ = poller; }

 private:
  struct View {
    QWidget* widget;
    Field field;
    int lane;
  };
  AppContext& app_;
  QWidget* page_;
  PagePoller* poller_ = nullptr;
  std::vector<View> views_;
};

// The refresh every polling page runs: its timer ticks every period; a tick
// while the page is visible reads the module on the board worker (at most
// one read in flight) and hands the snapshot to `show` on the UI thread. A
// hidden page causes no module traffic.
class PagePoller : public QObject {
  Q_OBJECT
 public:
  using Read = std::function<void(CSfpBase&)>;
  using Show = std::function<void(const ModuleImages&)>;
  PagePoller(QWidget* page, AppContext& app, int period_ms, Read read, Show show);

  // What a timer tick does: one refresh if the page is visible.
  void Tick();
  bool InFlight() const { return in_flight_; }

 private:
  QWidget* page_;
  QTimer timer_;
  AppContext& app_;
  Read read_;
  Show show_;
  bool in_flight_ = false;
};

}  // namespace pages
