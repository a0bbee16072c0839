// The module pages on the emulated board: controls write exactly their
// field, refreshes follow the module without writing back, hidden pages stay
// quiet, and the information page and diagnostics window show the module.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <functional>
#include <memory>

#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "gui/app_context.h"
#include "gui/dlu.h"
#include "gui/page_kit.h"
#include "gui/page_texts.h"
#include "gui/stale_look.h"
#include "module/ui/ctrl_page.h"
#include "module/ui/ddm_window.h"
#include "module/ui/flag_page.h"
#include "module/ui/info_page.h"
#include "module/ui/staged_set0_page.h"
#include "tests/gui_test_support.h"

namespace {

// The control ids of the widgets the tests find (object name "id<n>"), by
// what they are: a module-wide control, or a family's lanes 1-8 in order.
// The ids repeat between pages, so each page has its own list.
namespace ctrl_ids {
constexpr int kForceLowPwr = 1241, kLowPwr = 1304, kSoftReset = 1632, kModuleState = 1633,
              kSquelchMethod = 1793;
constexpr int kDataPathState[] = {1642, 1643, 1644, 1645, 1649, 1648, 1647, 1646};
constexpr int kTxDisable[] = {1322, 1323, 1324, 1325, 1326, 1327, 1328, 1329};
constexpr int kTxEqStore[] = {1386, 1387, 1388, 1389, 1390, 1391, 1392, 1393};
}  // namespace ctrl_ids
namespace set0_ids {
constexpr int kApplyDpInitAllLanes = 1793, kApplyImmediateAllLanes = 1794;
constexpr int kApplyDpInit[] = {1696, 1697, 1698, 1699, 1700, 1701, 1702, 1703};
constexpr int kApplyImmediate[] = {1783, 1776, 1777, 1778, 1782, 1779, 1780, 1781};
constexpr int kAppCode[] = {1705, 1707, 1711, 1714, 1717, 1720, 1723, 1726};
constexpr int kDpCode[] = {1706, 1709, 1712, 1715, 1718, 1721, 1724, 1727};
constexpr int kExplicitControl[] = {1708, 1710, 1713, 1716, 1719, 1722, 1725, 1728};
constexpr int kAdaptiveEqRecall[] = {1736, 1737, 1738, 1739, 1740, 1741, 1742, 1743};
constexpr int kRxAmplitude[] = {1800, 1801, 1802, 1803, 1804, 1805, 1806, 1807};
}  // namespace set0_ids
namespace flag_ids {
constexpr int kModuleState = 1633, kInterrupt = 1087, kModuleStateChanged = 1088;
constexpr int kBank0LaneFlag[] = {1634, 1635, 1636, 1637, 1638, 1639, 1640, 1641};
constexpr int kDataPathState[] = {1642, 1643, 1644, 1645, 1649, 1648, 1647, 1646};
constexpr int kConfigStatus[] = {1725, 1726, 1727, 1728, 1732, 1731, 1730, 1729};
constexpr int kTxFault[] = {1666, 1667, 1668, 1669, 1670, 1671, 1672, 1673};
constexpr int kTxLos[] = {1677, 1678, 1679, 1680, 1681, 1682, 1683, 1684};
constexpr int kRxLos[] = {1709, 1710, 1711, 1712, 1713, 1714, 1715, 1716};
constexpr int kRxCdrLol[] = {1717, 1718, 1719, 1720, 1721, 1722, 1723, 1724};
}  // namespace flag_ids

struct PagesTest : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  std::unique_ptr<AppContext> app;
  std::unique_ptr<ShellSink> sink_;
  QWidget window;  // the pages' parent, as the tab control is

  void SetUp() override {
    {
      auto lock = board->Lock();
      board->Module().SetLive(false);  // plain memory: what a test pokes stays put
    }
    app = std::make_unique<AppContext>(board, board);
    sink_ = std::make_unique<ShellSink>(app->Signals());
    ASSERT_GT(app->Device().FindDevices(), 0);
    ASSERT_TRUE(app->Device().OpenBoard(0));
    window.resize(Dlu(621), Dlu(400));
  }
  void TearDown() override { app->Link().Stop(); }

  void Poke(uint8_t page, uint8_t reg, uint8_t value) {
    auto lock = board->Lock();
    board->Module().Poke(page, reg, value);
  }
  uint8_t Peek(uint8_t page, uint8_t reg) {
    auto lock = board->Lock();
    return board->Module().Peek(page, reg);
  }
  // The data bytes of every module register write to `reg` of `page`.
  std::vector<uint8_t> Writes(uint8_t page, uint8_t reg) const {
    std::vector<uint8_t> out;
    for (const emu::Report& r : board->Requests())
      if (r[3] == board::kModuleWrite && r[5] == page && r[7] == reg) out.push_back(r[9]);
    return out;
  }
  size_t ModuleWrites() const {
    size_t n = 0;
    for (const emu::Report& r : board->Requests()) n += r[3] == board::kModuleWrite;
    return n;
  }

  template <typename Page>
  Page* Show() {
    auto* page = new Page(*app, &window);
    page->resize(window.size());
    window.show();
    page->show();
    return page;
  }
  // What one timer tick does, then waits for its module exchanges.
  void Refresh(QWidget* page) {
    page->findChild<pages::PagePoller*>()->Tick();
    app->Link().Drain();
  }
  void Settle() { app->Link().Drain(); }

  template <typename W>
  static W* Find(QWidget* page, int id) {
    W* w = page->findChild<W*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(w, nullptr) << "no control " << id;
    return w;
  }
  // Picks an item from a list as a user does: open it, move to the item,
  // press Return.
  void Choose(QComboBox* list, const QString& item) {
    const int index = list->findText(item);
    ASSERT_GE(index, 0) << item.toStdString();
    list->showPopup();
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
    view->setCurrentIndex(view->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_FALSE(view->isVisible());
    Settle();
  }
  static QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
  }
};

// ---- Every page: ids, counts, captions, fits ------------------------------

struct PageShape {
  const char* name;
  std::function<QWidget*(AppContext&, QWidget*)> make;
  int check_boxes, lists, buttons;
  QStringList group_captions;  // some, not all
};

TEST_F(PagesTest, EveryControlCarriesAUniqueIdAndThePageFitsItsTab) {
  const PageShape shapes[] = {
      {"Ctrl",
       [](AppContext& a, QWidget* p) { return new CCtrl(a, p); },
       74,
       18,
       1,
       {"DataPathDeinit(0x80)", "Lane Data Path State", "Tx Eq Store(0x87~0x88)",
        "Rx Squelch Disable(0x8B)"}},
      {"Set0",
       [](AppContext& a, QWidget* p) { return new CStagedCtrlSet0(a, p); },
       50,
       56,
       0,
       {"Apply_DataPathInit(0x8F)", "Lane1(0x91)", "Lane8(0x98)",
        "Rx output equalization post-tap(0xA6~0xA9)", "Rx output amplitude(0xAA~0xAD)"}},
      {"Flag",
       [](AppContext& a, QWidget* p) { return new CFlag(a, p); },
       74,
       17,
       0,
       {"Bank0 Lane Flag(0x04)", "Lane Data Path State(0x80~0x83)",
        "Config Error Codes(0xCA~0xCD)"}},
  };
  // The tab control's page area: the main window less the tab bar.
  const QSize area(Dlu(621) - 2, Dlu(400) - 30);
  for (const PageShape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    std::unique_ptr<QWidget> page(shape.make(*app, nullptr));
    QSet<int> ids;
    int checks = 0, lists = 0, buttons = 0;
    for (QWidget* w : page->findChildren<QWidget*>()) {
      const QVariant id = w->property("controlId");
      if (!id.isValid()) continue;
      EXPECT_EQ(w->objectName(), QStringLiteral("id%1").arg(id.toInt()));
      EXPECT_FALSE(ids.contains(id.toInt())) << "id " << id.toInt() << " twice";
      ids.insert(id.toInt());
      checks += qobject_cast<QCheckBox*>(w) != nullptr;
      lists += qobject_cast<QComboBox*>(w) != nullptr;
      buttons += qobject_cast<QPushButton*>(w) != nullptr;
    }
    EXPECT_EQ(checks, shape.check_boxes);
    EXPECT_EQ(lists, shape.lists);
    EXPECT_EQ(buttons, shape.buttons);
    QStringList captions;
    for (QGroupBox* g : page->findChildren<QGroupBox*>()) captions << g->title();
    for (const QString& caption : shape.group_captions)
      EXPECT_TRUE(captions.contains(caption)) << caption.toStdString();
    const QSize needed = page->minimumSizeHint();
    EXPECT_LE(needed.width(), area.width());
    EXPECT_LE(needed.height(), area.height());
  }
  DdmWindow ddm(*app);
  EXPECT_LE(ddm.minimumSizeHint().width(), 330);
  EXPECT_LE(ddm.minimumSizeHint().height(), 500);
}

// ---- Control page ----------------------------------------------------------

TEST_F(PagesTest, CtrlTxDisableClickChangesOnlyItsLaneBit) {
  Poke(0x10, 0x82, 0xA1);
  auto* page = Show<CCtrl>();
  QCheckBox* tx3 = Find<QCheckBox>(page, ctrl_ids::kTxDisable[2]);
  ASSERT_TRUE(tx3);
  EXPECT_EQ(tx3->text(), "  Tx3");
  EXPECT_EQ(qobject_cast<QGroupBox*>(tx3->parentWidget())->title(), "Tx Disable(0x82)");

  QTest::mouseClick(tx3, Qt::LeftButton);
  Settle();
  EXPECT_EQ(Peek(0x10, 0x82), 0xA5);
  EXPECT_EQ(Writes(0x10, 0x82), std::vector<uint8_t>{0xA5});
  EXPECT_EQ(ModuleWrites(), 1u);

  QTest::mouseClick(tx3, Qt::LeftButton);  // and back
  Settle();
  EXPECT_EQ(Peek(0x10, 0x82), 0xA1);
}

TEST_F(PagesTest, CtrlListsWriteTheirField) {
  auto* page = Show<CCtrl>();
  // "Tx Eq Store(0x87~0x88)" box 6: bits 3-2 of page 10h byte 136.
  Poke(0x10, 0x88, 0xC1);
  QComboBox* store6 = Find<QComboBox>(page, ctrl_ids::kTxEqStore[5]);
  ASSERT_TRUE(store6);
  EXPECT_EQ(Items(store6), QStringList({"00 Res", "01 Loc1", "10 Loc2", "11 Res"}));
  Choose(store6, "10 Loc2");
  EXPECT_EQ(Peek(0x10, 0x88), 0xC9);
  EXPECT_EQ(Writes(0x10, 0x88), std::vector<uint8_t>{0xC9});

  // The squelch method: lower byte 26 bit 5, the other bits kept.
  Poke(0x00, 0x1A, 0x10);
  QComboBox* squelch = Find<QComboBox>(page, ctrl_ids::kSquelchMethod);
  ASSERT_TRUE(squelch);
  EXPECT_EQ(Items(squelch), QStringList({"Tx Squelch reduces OMA", "Tx Squelch reduces Pave"}));
  Choose(squelch, "Tx Squelch reduces Pave");
  EXPECT_EQ(Peek(0x00, 0x1A), 0x30);
  Choose(squelch, "Tx Squelch reduces OMA");
  EXPECT_EQ(Peek(0x00, 0x1A), 0x10);

  // "SoftReset(0x1A)" sets bit 3.
  QTest::mouseClick(Find<QPushButton>(page, ctrl_ids::kSoftReset), Qt::LeftButton);
  Settle();
  EXPECT_EQ(Peek(0x00, 0x1A), 0x18);
}

TEST_F(PagesTest, CtrlRefreshFollowsTheModuleWithoutWritingBack) {
  Poke(0x00, 0x03, 0x0E);  // module state code 7: no item
  Poke(0x00, 0x1A, 0x50);  // LowPwr and ForceLowPwr
  Poke(0x11, 0x80, 0xD4);  // lane 1 DPActivated, lane 2 code 0xD: no item
  Poke(0x11, 0x81, 0x47);  // lane 3 DPInitialized, lane 4 DPActivated
  Poke(0x10, 0x82, 0x04);  // Tx3 disabled
  Poke(0x10, 0x87, 0x80);  // Tx Eq Store lane 4: "10 Loc2"
  auto* page = Show<CCtrl>();
  Refresh(page);
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kModuleState)->currentIndex(), -1);
  EXPECT_TRUE(Find<QCheckBox>(page, ctrl_ids::kForceLowPwr)->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(page, ctrl_ids::kLowPwr)->isChecked());  // LowPwr follows bit 6 too
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kDataPathState[0])->currentText(), "4 DPActivated");
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kDataPathState[1])->currentIndex(), -1);
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kDataPathState[2])->currentText(), "7 DPInitialized");
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kDataPathState[3])->currentText(), "4 DPActivated");
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kSquelchMethod)->currentText(),
            "Tx Squelch reduces OMA");
  EXPECT_TRUE(Find<QCheckBox>(page, ctrl_ids::kTxDisable[2])->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(page, ctrl_ids::kTxDisable[1])->isChecked());
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kTxEqStore[3])->currentText(), "10 Loc2");
  EXPECT_EQ(ModuleWrites(), 0u);

  // A change on the module side shows at the next tick of the page's timer.
  Poke(0x10, 0x82, 0x00);
  Poke(0x00, 0x1A, 0x20);
  QCheckBox* tx3 = Find<QCheckBox>(page, ctrl_ids::kTxDisable[2]);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !tx3->isChecked(); }, CCtrl::kRefreshMs + 500));
  EXPECT_FALSE(Find<QCheckBox>(page, ctrl_ids::kLowPwr)->isChecked());
  EXPECT_EQ(Find<QComboBox>(page, ctrl_ids::kSquelchMethod)->currentText(),
            "Tx Squelch reduces Pave");
  EXPECT_EQ(ModuleWrites(), 0u);
}

// A write the board does not take is told in the status line, and the box
// goes back to what the module holds; a refresh that cannot read greys the
// controls until one can.
TEST_F(PagesTest, CtrlFailuresAreShownAndTheControlFollowsTheModule) {
  Poke(0x10, 0x82, 0xA1);
  auto* page = Show<CCtrl>();
  Refresh(page);
  QCheckBox* tx3 = Find<QCheckBox>(page, ctrl_ids::kTxDisable[2]);
  ASSERT_TRUE(tx3);
  ASSERT_FALSE(tx3->isChecked());

  board->FailNextWrite();
  QTest::mouseClick(tx3, Qt::LeftButton);
  EXPECT_TRUE(tx3->isChecked());
  Settle();  // the setter fails, the page refreshes
  Settle();
  EXPECT_FALSE(tx3->isChecked());
  EXPECT_EQ(Peek(0x10, 0x82), 0xA1);
  EXPECT_EQ(ModuleWrites(), 0u);  // never a write after a failed read
  QApplication::sendPostedEvents(sink_.get());
  EXPECT_EQ(sink_->LastStatusText(),
            "Tx Disable(0x82) lane 3: the board link failed (unplugged?) (command 0x07, report 1 "
            "of 1)");

  board->DropAnswers(1);
  Refresh(page);
  EXPECT_TRUE(IsStale(tx3));
  EXPECT_TRUE(IsStale(Find<QComboBox>(page, ctrl_ids::kModuleState)));  // the module state too
  EXPECT_FALSE(tx3->isChecked());  // the last value the module gave
  Refresh(page);
  EXPECT_FALSE(IsStale(tx3));
  EXPECT_FALSE(IsStale(Find<QComboBox>(page, ctrl_ids::kModuleState)));
}

TEST(PageTexts, ControlFailureTextNamesTheControl) {
  const BoardResult timeout = BoardResult::Fail(BoardStatus::kTimeout, 0x07, 0, 1);
  const struct {
    const char* family;
    int lane;
    std::string subject;
  } cases[] = {
      {"tx-disable", 3, "Tx Disable(0x82) lane 3"},
      {"force-low-power", 0, "ForceLowPwr(0x1A)"},
      {"squelch-method", 0, "squelch-method"},  // a list without a caption
      {"app-code", 5, "App Code lane 5"},       // "App Code:" without its colon
  };
  for (const auto& c : cases)
    EXPECT_EQ(pages::ControlFailureText(pages::Control(c.family), c.lane, timeout),
              c.subject + ": " + timeout.Text());
}

TEST_F(PagesTest, CtrlFollowsTheLiveModuleIntoLowPower) {
  {
    auto lock = board->Lock();
    board->Module().SetLive(true);
  }
  auto* page = Show<CCtrl>();
  Refresh(page);
  QComboBox* state = Find<QComboBox>(page, ctrl_ids::kModuleState);
  EXPECT_EQ(state->currentText(), "011 ModReady");
  QTest::mouseClick(Find<QCheckBox>(page, ctrl_ids::kLowPwr), Qt::LeftButton);  // "LowPwr(0x1A)"
  Settle();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        Refresh(page);
        return state->currentText() == "001 ModLowPwr";
      },
      3000));
  EXPECT_TRUE(Find<QCheckBox>(page, ctrl_ids::kLowPwr)->isChecked());
}

// ---- Staged control set 0 page --------------------------------------------

TEST_F(PagesTest, Set0AllLanesBoxesWriteTheEightLanesInOrder) {
  struct Case {
    int all_id;
    uint8_t reg;
    std::vector<int> lane_ids;
  };
  const Case cases[] = {
      {set0_ids::kApplyDpInitAllLanes,
       0x8F,
       {std::begin(set0_ids::kApplyDpInit), std::end(set0_ids::kApplyDpInit)}},
      {set0_ids::kApplyImmediateAllLanes,
       0x90,
       {std::begin(set0_ids::kApplyImmediate), std::end(set0_ids::kApplyImmediate)}},
  };
  auto* page = Show<CStagedCtrlSet0>();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.all_id);
    board->ClearRequests();
    QTest::mouseClick(Find<QCheckBox>(page, c.all_id), Qt::LeftButton);
    Settle();
    for (int id : c.lane_ids) EXPECT_TRUE(Find<QCheckBox>(page, id)->isChecked());
    EXPECT_EQ(Writes(0x10, c.reg),
              (std::vector<uint8_t>{0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF}));
    board->ClearRequests();
    QTest::mouseClick(Find<QCheckBox>(page, c.all_id), Qt::LeftButton);
    Settle();
    for (int id : c.lane_ids) EXPECT_FALSE(Find<QCheckBox>(page, id)->isChecked());
    EXPECT_EQ(Writes(0x10, c.reg),
              (std::vector<uint8_t>{0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80, 0x00}));
    EXPECT_EQ(ModuleWrites(), 8u);
  }
}

TEST_F(PagesTest, Set0ListsShowAndWriteTheirCodes) {
  Poke(0x10, 0x91, 0xEB);  // lane 1: app code 14, DP code 5, explicit control
  Poke(0x10, 0x9A, 0x0C);  // recall lane 2 code 3: no item
  Poke(0x10, 0xAB, 0x4F);  // amplitude lane 3: 15, lane 4: 4 (lane 4 offers 0-3)
  Poke(0x10, 0xAD, 0x32);  // amplitude lane 7: 2, lane 8: 3
  auto* page = Show<CStagedCtrlSet0>();
  Refresh(page);
  QComboBox* app1 = Find<QComboBox>(page, set0_ids::kAppCode[0]);
  EXPECT_EQ(app1->count(), 16);
  EXPECT_EQ(app1->itemText(0), "0000 Res");
  EXPECT_EQ(app1->currentText(), "1110");
  EXPECT_EQ(Find<QComboBox>(page, set0_ids::kDpCode[0])->currentText(), "101b");
  EXPECT_TRUE(Find<QCheckBox>(page, set0_ids::kExplicitControl[0])->isChecked());
  EXPECT_EQ(Find<QComboBox>(page, set0_ids::kAdaptiveEqRecall[1])->currentIndex(), -1);
  EXPECT_EQ(Find<QComboBox>(page, set0_ids::kRxAmplitude[2])->currentText(), "15");
  EXPECT_EQ(Find<QComboBox>(page, set0_ids::kRxAmplitude[3])->count(), 4);
  EXPECT_EQ(Find<QComboBox>(page, set0_ids::kRxAmplitude[3])->currentIndex(), -1);
  EXPECT_EQ(Find<QComboBox>(page, set0_ids::kRxAmplitude[6])->currentText(), "02");
  EXPECT_EQ(Find<QComboBox>(page, set0_ids::kRxAmplitude[7])->currentText(), "03");
  EXPECT_EQ(ModuleWrites(), 0u);

  // Lane 3's configuration byte is page 10h byte 147.
  Poke(0x10, 0x93, 0x11);
  Choose(Find<QComboBox>(page, set0_ids::kAppCode[2]), "1110");
  EXPECT_EQ(Peek(0x10, 0x93), 0xE1);
  Choose(Find<QComboBox>(page, set0_ids::kDpCode[2]), "101b");
  EXPECT_EQ(Peek(0x10, 0x93), 0xEB);
  // Rx output amplitude lane 8: the high nibble of byte 173.
  Choose(Find<QComboBox>(page, set0_ids::kRxAmplitude[7]), "01");
  EXPECT_EQ(Peek(0x10, 0xAD), 0x12);
}

// ---- Flags page ------------------------------------------------------------

TEST_F(PagesTest, FlagPageDecodesTheStatusImage) {
  Poke(0x00, 0x03, 0x07);  // ModReady, interrupt bit set
  Poke(0x00, 0x04, 0x81);  // bank-0 lane flags: lanes 1 and 8
  Poke(0x00, 0x08, 0x01);  // module state changed
  Poke(0x11, 0x80, 0xF1);  // lane 1 DPDeactivated, lane 2 code 0xF: no item
  Poke(0x11, 0x81, 0x47);  // lane 3 DPInitialized, lane 4 DPActivated
  Poke(0x11, 0x88, 0x20);  // Tx LOS lane 6
  Poke(0x11, 0x94, 0x80);  // Rx CDR LOL lane 8
  const uint8_t config[] = {0x21, 0x00, 0x00, 0x70};
  for (int i = 0; i < 4; ++i) Poke(0x11, static_cast<uint8_t>(0xCA + i), config[i]);
  auto* page = Show<CFlag>();
  Refresh(page);

  EXPECT_EQ(Find<QComboBox>(page, flag_ids::kModuleState)->currentText(), "011 ModReady");
  EXPECT_TRUE(Find<QCheckBox>(page, flag_ids::kInterrupt)->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(page, flag_ids::kModuleStateChanged)->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(page, flag_ids::kBank0LaneFlag[0])->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(page, flag_ids::kBank0LaneFlag[1])->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(page, flag_ids::kBank0LaneFlag[7])->isChecked());
  EXPECT_EQ(Find<QComboBox>(page, flag_ids::kDataPathState[0])->currentText(), "1 DPDeactivated");
  EXPECT_EQ(Find<QComboBox>(page, flag_ids::kDataPathState[1])->currentIndex(), -1);
  EXPECT_EQ(Find<QComboBox>(page, flag_ids::kDataPathState[2])->currentText(), "7 DPInitialized");
  EXPECT_EQ(Find<QComboBox>(page, flag_ids::kDataPathState[3])->currentText(), "4 DPActivated");
  const char* statuses[] = {"1 accepted",  "2 rejected unknown",   "0 No Status",
                            "0 No Status", "0 No Status",          "0 No Status",
                            "0 No Status", "7 rejected incomplete"};
  const auto& config_ids = flag_ids::kConfigStatus;
  for (int lane = 0; lane < 8; ++lane)
    EXPECT_EQ(Find<QComboBox>(page, config_ids[lane])->currentText(), statuses[lane]) << lane + 1;
  EXPECT_TRUE(Find<QCheckBox>(page, flag_ids::kTxLos[5])->isChecked());     // Tx Los lane 6
  EXPECT_FALSE(Find<QCheckBox>(page, flag_ids::kTxLos[4])->isChecked());    // Tx Los lane 5
  EXPECT_TRUE(Find<QCheckBox>(page, flag_ids::kRxCdrLol[7])->isChecked());  // Rx CDR LOL lane 8
  EXPECT_EQ(Find<QCheckBox>(page, flag_ids::kBank0LaneFlag[0])->text(), "  Ln1");

  // The boxes show; clicking one changes nothing, in the box or the module.
  for (int id : {flag_ids::kInterrupt, flag_ids::kBank0LaneFlag[0], flag_ids::kTxFault[0]}) {
    QCheckBox* box = Find<QCheckBox>(page, id);
    const bool before = box->isChecked();
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_EQ(box->isChecked(), before) << id;
  }
  Settle();
  EXPECT_EQ(ModuleWrites(), 0u);
}

// ---- Hidden pages ----------------------------------------------------------

TEST_F(PagesTest, HiddenPagesCauseNoModuleTraffic) {
  std::vector<QWidget*> hidden = {new CCtrl(*app, &window), new CFlag(*app, &window),
                                  new CStagedCtrlSet0(*app, &window), new InfoPage(*app, &window)};
  auto* ddm = new DdmWindow(*app, &window);
  window.show();
  for (QWidget* page : hidden) page->hide();
  ddm->StartUpdates();
  board->ClearRequests();

  for (QWidget* page : hidden)
    if (auto* poller = page->findChild<pages::PagePoller*>()) poller->Tick();
  auto* ddm_timer = ddm->findChild<QTimer*>("updateTimer");
  ASSERT_TRUE(ddm_timer && ddm_timer->isActive());
  QTimerEvent tick(ddm_timer->timerId());
  QApplication::sendEvent(ddm_timer, &tick);
  hidden.back()->update();
  QTest::qWait(CCtrl::kRefreshMs + 300);  // the pages' own timers fire meanwhile
  Settle();
  EXPECT_EQ(board->RequestCount(), 0u);
  EXPECT_EQ(sink_->Count(ShellSink::kRefreshDsp), 0);
  for (QWidget* page : hidden) {
    if (auto* poller = page->findChild<pages::PagePoller*>()) {
      EXPECT_TRUE(poller->findChild<QTimer*>("refreshTimer")->isActive());
    }
  }
  EXPECT_EQ(static_cast<InfoPage*>(hidden.back())->Passes(), 0);
}

// ---- Information page ------------------------------------------------------

struct InfoCase {
  const char* name;
  std::vector<std::tuple<uint8_t, uint8_t, uint8_t>> bytes;  // page, register, value
  std::vector<std::pair<int, const char*>> rows;             // row, value shown
};

TEST_F(PagesTest, InfoPageShowsTheModuleIdentification) {
  const InfoCase cases[] = {
      {"QSFP-DD",
       {{0x00, 128, 0x18},
        {0x00, 200, 0xE0},
        {0x00, 201, 45},
        {0x00, 145, 0x00},
        {0x00, 146, 0x17},
        {0x00, 147, 0x6A},
        {0x01, 138, 0x66},
        {0x01, 139, 0x6C},
        {0x01, 140, 0x00},
        {0x01, 141, 0x64},
        {0x00, 212, 0x0F},
        {0x00, 203, 0x07}},
       {{0, "QSFP-DD Double Density 8X Pluggable Transceiver(INF-8628)"},
        {1, "Class 8"},
        {2, "11"},
        {4, "0x00176A"},
        {10, "1311"},
        {11, "0.50"},
        {12, "Coper cable,linear active equalizers"},
        {13, "LC(Lucent Connector)"}}},
      {"reserved codes",
       {{0x00, 128, 0x20},
        {0x00, 200, 0x1F},
        {0x00, 145, 0xAC},
        {0x00, 146, 0xDE},
        {0x00, 147, 0x0B},
        {0x00, 212, 0x10},
        {0x00, 203, 0x1F}},
       {{0, "Reserved"}, {1, "Class 1"}, {4, "0xACDE0B"}, {12, "Reserved"}, {13, "Reserved"}}},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [page, reg, value] : c.bytes) Poke(page, reg, value);
    std::unique_ptr<InfoPage> page(Show<InfoPage>());
    QTest::qWait(1);  // the first paint starts a pass
    Settle();
    ASSERT_EQ(page->Rows().size(), 14u);
    EXPECT_EQ(page->Rows()[0].label, "Module Identifier");
    EXPECT_EQ(page->Rows()[4].label, "Vendor OUI(Hex)");
    for (const auto& [row, value] : c.rows) EXPECT_EQ(page->Rows()[row].value, value) << row;
  }
}

TEST_F(PagesTest, InfoPageDrawsTheLastPassAndRunsOneMoreForAPaintDuringAPass) {
  auto* page = Show<InfoPage>();
  QTest::qWait(1);
  ASSERT_EQ(page->Passes(), 1);
  page->repaint();  // paints during the pass ask for one more pass, not two
  page->repaint();
  Settle();  // the first pass ends, the second one starts
  Settle();
  QApplication::processEvents();  // the paint that shows it reads nothing
  Settle();
  EXPECT_EQ(page->Passes(), 2);

  // Drawn in the page's colour: labels from x 0, values from x 200, 22 px apart.
  const QImage image = page->grab().toImage();
  auto ink_from = [&](int row, int x0) {
    for (int x = x0; x < image.width(); ++x)
      for (int y = 22 * row; y < 22 * row + 22; ++y)
        if (image.pixelColor(x, y) == QColor(0, 96, 245)) return x;
    return -1;
  };
  for (int row : {0, 13}) {
    const int label = ink_from(row, 0), value = ink_from(row, InfoPage::kValueX);
    EXPECT_GE(label, 0);
    EXPECT_LT(label, 4) << row;
    EXPECT_GE(value, InfoPage::kValueX) << row;
    EXPECT_LT(value, InfoPage::kValueX + 6) << row;
  }
  EXPECT_EQ(ink_from(15, 0), -1);  // fourteen rows, nothing under them

  // Closing the page while a pass runs is safe.
  page->repaint();
  ASSERT_EQ(page->Passes(), 3);
  delete page;
  Settle();
}

// A row that could not be read is drawn grey, without the zeros its decoder
// saw; the status line says why, until a pass reads every row again.
TEST_F(PagesTest, InfoPageGreysTheRowsItCouldNotRead) {
  Poke(0x00, 128, 0x18);
  board->DropAnswers(1);  // the first row's read
  auto* page = Show<InfoPage>();
  QTest::qWait(1);
  Settle();
  ASSERT_EQ(page->Rows().size(), 14u);
  EXPECT_FALSE(page->Rows()[0].current);
  EXPECT_TRUE(page->Rows()[1].current);
  QApplication::sendPostedEvents(sink_.get());
  EXPECT_EQ(sink_->LastStatusText(),
            "INFO: rows not read: the board did not answer within 50 ms (command 0x07, report 1 "
            "of 1)");

  const QImage image = page->grab().toImage();  // this paint asks for a new pass too
  auto count = [&](int row, const QColor& colour) {
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
      for (int y = 22 * row; y < 22 * row + 22; ++y) n += image.pixelColor(x, y) == colour;
    return n;
  };
  const QColor blue(0, 96, 245), grey(150, 150, 150);
  EXPECT_EQ(count(0, blue), 0);
  EXPECT_GT(count(0, grey), 0);
  EXPECT_GT(count(1, blue), 0);
  EXPECT_EQ(count(1, grey), 0);

  Settle();
  EXPECT_TRUE(page->Rows()[0].current);
  EXPECT_EQ(page->Rows()[0].value, "QSFP-DD Double Density 8X Pluggable Transceiver(INF-8628)");
  QApplication::sendPostedEvents(sink_.get());
  EXPECT_EQ(sink_->LastStatusText(), "");
}

// The panel under the fourteen rows decodes the same pass's snapshot, fits
// the page, and is greyed while the pass could not read all it decodes.
TEST_F(PagesTest, InfoPanelDecodesTheModuleUnderTheRowsAndGreysWhenNotRead) {
  auto* page = Show<InfoPage>();
  QTest::qWait(1);
  Settle();
  QPlainTextEdit* panel = page->Panel();
  const QString text = panel->toPlainText();
  for (const char* part :
       {"CMIS 5.0, firmware", "Applications (media type",
        "  1: ", "Active application per lane: 1:1", "Fault cause: ", "Output status (1 valid) Rx ",
        "Media ", "Checksums: page 00h ok, page 01h ok, page 02h ok",
        "Tuning: not a tunable transmitter"})
    EXPECT_TRUE(text.contains(part)) << part << "\n" << text.toStdString();
  EXPECT_FALSE(IsStale(panel));
  EXPECT_GE(panel->geometry().top(), 14 * InfoPage::kRowPitch);
  EXPECT_LE(panel->geometry().bottom(), page->height());
  EXPECT_TRUE(panel->isReadOnly());

  board->DropAnswers(40);  // every read of the next pass
  page->repaint();
  Settle();
  EXPECT_TRUE(IsStale(panel));
  EXPECT_FALSE(panel->toPlainText().isEmpty());
  for (int pass = 0; pass < 5 && IsStale(panel); ++pass) {  // till the dropped answers are used up
    page->repaint();
    Settle();
  }
  EXPECT_FALSE(IsStale(panel));
}

// ---- Diagnostics window ----------------------------------------------------

TEST_F(PagesTest, DdmShowsValuesRedOnAWarningAloneAndPacesItsTimer) {
  Poke(0x00, 0x0E, 0x19);  // 25.00 degC
  Poke(0x00, 0x0F, 0x00);
  Poke(0x00, 0x09, 0x04);  // temperature high warning only
  Poke(0x11, 0x8E, 0x04);  // Tx power low warning, lane 3
  Poke(0x11, 0x95, 0x80);  // Rx power high alarm, lane 8
  Poke(0x11, 0x9E, 0x27);  // Tx power lane 3: 10000 = 0.00 dBm
  Poke(0x11, 0x9F, 0x10);
  Poke(0x11, 0xBA, 0x00);  // Rx power lane 1: 0, shown as the -40 dBm floor
  Poke(0x11, 0xBB, 0x00);
  DdmWindow ddm(*app);
  ddm.show();
  auto* timer = ddm.findChild<QTimer*>("updateTimer");
  ASSERT_TRUE(timer);
  EXPECT_FALSE(timer->isActive());
  ddm.StartUpdates();
  EXPECT_EQ(timer->interval(), DdmWindow::kFirstPeriodMs);
  QTimerEvent tick(timer->timerId());
  QApplication::sendEvent(timer, &tick);
  Settle();
  EXPECT_EQ(timer->interval(), DdmWindow::kPeriodMs);
  QApplication::sendPostedEvents(sink_.get());
  EXPECT_EQ(sink_->Count(ShellSink::kRefreshDsp), 1);

  auto field = [&](const char* name) { return ddm.findChild<QLineEdit*>(name); };
  auto colour = [&](const char* name) { return field(name)->palette().color(QPalette::Text); };
  const QColor red(255, 0, 0), green(0, 188, 0);
  EXPECT_EQ(field("TEMP")->text(), "25.00");
  EXPECT_EQ(field("TX_PWR_3")->text(), "0.00");
  EXPECT_EQ(field("RX_PWR_1")->text(), "-40.00");
  EXPECT_EQ(colour("TEMP"), red);
  EXPECT_EQ(colour("VCC"), green);
  EXPECT_EQ(colour("TX_PWR_3"), red);
  EXPECT_EQ(colour("TX_PWR_2"), green);
  EXPECT_EQ(colour("BIAS_3"), green);
  EXPECT_EQ(colour("RX_PWR_8"), red);
  EXPECT_TRUE(field("TEMP")->font().bold());

  // Cleared flags turn the fields green again at the next refresh.
  Poke(0x00, 0x09, 0x00);
  QApplication::sendEvent(timer, &tick);
  Settle();
  EXPECT_EQ(colour("TEMP"), green);

  // Stopping clears the status line's message part.
  ddm.StopUpdates();
  EXPECT_FALSE(timer->isActive());
  QApplication::sendPostedEvents(sink_.get());
  ASSERT_FALSE(sink_->got.empty());
  EXPECT_EQ(sink_->got.back().kind, ShellSink::kStatusText);
  EXPECT_EQ(sink_->got.back().text, QString());
}

// A latched flag raised once on the live module is read by whichever view
// refreshes first (the module clears it as it answers); the flag reader
// keeps it, so both views show it, once, until "Acknowledge".
TEST_F(PagesTest, LatchedFlagsStayOnBothViewsUntilAcknowledged) {
  {
    auto lock = board->Lock();
    board->Module().SetLive(true);
    board->Module().SetNoise(false);
  }
  Poke(0x11, 0x8E, 0x04);  // Tx power low warning, lane 3
  Poke(0x11, 0x93, 0x02);  // Rx LOS, lane 2
  DdmWindow ddm(*app);
  ddm.show();
  auto* timer = ddm.findChild<QTimer*>("updateTimer");
  ddm.StartUpdates();
  QTimerEvent tick(timer->timerId());
  auto ddm_refresh = [&] {
    QApplication::sendEvent(timer, &tick);
    Settle();
  };
  ddm_refresh();
  EXPECT_EQ(Peek(0x11, 0x8E), 0x00);  // cleared on that read
  auto* flag_page = Show<CFlag>();
  Refresh(flag_page);
  EXPECT_EQ(Peek(0x11, 0x93), 0x00);  // cleared on the page's read
  ddm_refresh();
  Refresh(flag_page);

  auto field = [&](const char* name) { return ddm.findChild<QLineEdit*>(name); };
  const QColor green(0, 188, 0);
  EXPECT_TRUE(field("TX_PWR_3")->font().underline());
  EXPECT_TRUE(field("TX_PWR_3")->toolTip().startsWith("Tx power low warning: raised 1x, first "));
  EXPECT_FALSE(field("TX_PWR_2")->font().underline());
  EXPECT_EQ(field("TX_PWR_2")->toolTip(), "");
  // The colour is the current state's: the flag is clear now.
  EXPECT_EQ(field("TX_PWR_3")->palette().color(QPalette::Text), green);

  QCheckBox* rx_los_2 = Find<QCheckBox>(flag_page, flag_ids::kRxLos[1]);
  EXPECT_FALSE(rx_los_2->isChecked());  // current state: clear
  EXPECT_EQ(rx_los_2->text(), "1x");
  EXPECT_TRUE(rx_los_2->toolTip().startsWith("Rx LOS: raised 1x, first "));
  EXPECT_EQ(Find<QCheckBox>(flag_page, flag_ids::kRxLos[2])->text(), "");
  auto* summary = flag_page->findChild<QLabel*>("stickySummary");
  EXPECT_EQ(summary->text(), "Flags raised since the last acknowledgement: 2");
  EXPECT_TRUE(summary->toolTip().contains("Tx power low warning lane 3: raised 1x"));

  QTest::mouseClick(flag_page->findChild<QPushButton*>("acknowledge"), Qt::LeftButton);
  EXPECT_EQ(rx_los_2->text(), "");
  EXPECT_EQ(rx_los_2->toolTip(), "");
  EXPECT_EQ(summary->text(), "No flag raised since the last acknowledgement");
  ddm_refresh();
  EXPECT_FALSE(field("TX_PWR_3")->font().underline());
  EXPECT_EQ(field("TX_PWR_3")->toolTip(), "");
  Settle();
}

// A refresh that cannot read the monitors shows neither zeros nor the old
// numbers as readings: the fields keep the last reading, greyed, until a
// refresh reads again. Removal of the board greys them too.
TEST_F(PagesTest, DdmMarksValuesStaleWhenARefreshFailsAndRecovers) {
  Poke(0x00, 0x0E, 0x19);  // 25.00 degC
  Poke(0x00, 0x0F, 0x00);
  Poke(0x11, 0x95, 0x80);  // Rx power high alarm, lane 8
  DdmWindow ddm(*app);
  ddm.show();
  ddm.StartUpdates();
  auto* timer = ddm.findChild<QTimer*>("updateTimer");
  QTimerEvent tick(timer->timerId());
  auto field = [&](const char* name) { return ddm.findChild<QLineEdit*>(name); };
  auto colour = [&](const char* name) { return field(name)->palette().color(QPalette::Text); };
  const QColor red(255, 0, 0), green(0, 188, 0), grey(150, 150, 150);
  QApplication::sendEvent(timer, &tick);
  Settle();
  EXPECT_EQ(field("TEMP")->text(), "25.00");
  EXPECT_EQ(colour("TEMP"), green);
  EXPECT_EQ(colour("RX_PWR_8"), red);

  Poke(0x00, 0x0E, 0x1E);  // 30.00 degC, not read yet
  board->DropAnswers(1);
  QApplication::sendEvent(timer, &tick);
  Settle();
  EXPECT_EQ(field("TEMP")->text(), "25.00");
  for (QLineEdit* f : ddm.findChildren<QLineEdit*>())
    EXPECT_EQ(f->palette().color(QPalette::Text), grey) << f->objectName().toStdString();

  QApplication::sendEvent(timer, &tick);
  Settle();
  EXPECT_EQ(field("TEMP")->text(), "30.00");
  EXPECT_EQ(colour("TEMP"), green);
  EXPECT_EQ(colour("RX_PWR_8"), red);

  ddm.StopUpdates();
  EXPECT_EQ(colour("TEMP"), grey);
  EXPECT_EQ(colour("RX_PWR_8"), grey);
}

}  // namespace
