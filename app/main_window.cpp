#include "app/main_window.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMoveEvent>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>

#include "app/power_inhibit.h"
#include "board/device_watcher.h"
#include "emulator/emulated_board.h"
#include "gui/dlu.h"
#include "gui/log.h"
#include "module/ui/ctrl_page.h"
#include "module/ui/ddm_window.h"
#include "module/ui/flag_page.h"
#include "module/ui/info_page.h"
#include "module/ui/staged_set0_page.h"
#include "qualify/ui/qualify_page.h"
#include "signal/ui/dsp_page.h"
#include "signal/ui/line_check_page.h"
#include "signal/ui/widgets.h"
#include "transfer/ui/transfer_page.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

struct TabInfo {
  const char* label;
  QColor colour;
};
// Tabs 0 and 1 carry red labels, the others blue, all on white.
const TabInfo kTabs[] = {
    {"Checker", QColor(237, 28, 36)}, {"Dsp", QColor(237, 28, 36)},
    {"Ctrl", QColor(0, 128, 255)},    {"Flag", QColor(0, 128, 255)},
    {"Set0", QColor(0, 128, 255)},    {"INFO", QColor(0, 128, 255)},
    {"File", QColor(0, 128, 255)},    {"Qualify", QColor(0, 128, 255)},
};

}  // namespace

CLanewrightDlg::CLanewrightDlg(std::shared_ptr<HidBackend> backend,
                               std::shared_ptr<emu::EmulatedBoard> emulated, QWidget* parent)
    : QDialog(parent),
      power_(std::make_unique<PowerInhibit>()),
      context_(std::make_unique<AppContext>(std::move(backend), std::move(emulated))),
      status_([this] { return boards_.load(); }) {
  context_->SetMainWindow(this);
  // What the views ask for takes effect after the event that asked, in order.
  GuiSignals* views = &context_->Signals();
  connect(views, &GuiSignals::ShowDdmRequested, this, &CLanewrightDlg::ShowDdm,
          Qt::QueuedConnection);
  connect(
      views, &GuiSignals::RefreshDspRequested, this,
      [this] {
        if (dsp_) dsp_->Refresh();
      },
      Qt::QueuedConnection);
  connect(views, &GuiSignals::StatusText, this, &CLanewrightDlg::OnStatusText,
          Qt::QueuedConnection);
  connect(this, &CLanewrightDlg::DeviceChanged, this, &CLanewrightDlg::OnDeviceChange,
          Qt::QueuedConnection);
  retry_timer_.setSingleShot(true);
  retry_timer_.setInterval(kBoardRetryMs);
  connect(&retry_timer_, &QTimer::timeout, this, [this] {
    if (waiting_path_.empty()) return;
    context_->Link().Run(
        this, [this, path = waiting_path_] { return TryOpen(path); },
        [this](const OpenAttempt& a) { OnOpenAttempt(Attempt::kRetry, a); });
  });
  setWindowTitle(kCaption);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(Dlu(621), Dlu(421));

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("id%1").arg(kIdTabs));
  tabs_->setProperty("controlId", kIdTabs);
  tabs_->setGeometry(0, 0, Dlu(621), Dlu(400));
  tabs_->setStyleSheet(
      "QTabBar::tab { background: white; padding: 3px 14px 3px 8px; border: 1px solid #b8b8b8;"
      " border-bottom: none; margin-right: 1px; }"
      "QTabBar::tab:selected { border-color: #808080; font-weight: bold; }");

  status_label_ = new QLabel(QString::fromUtf8("静态"), this);
  status_label_->setObjectName(QStringLiteral("id%1").arg(kIdStatusLine));
  status_label_->setProperty("controlId", kIdStatusLine);
  status_label_->setGeometry(0, Dlu(401), Dlu(620), Dlu(18));
  // A bold Swiss font 24 pixels high from cell top to bottom (ascent plus
  // descent), not 24 pixels to the em: about 21 pixels for an Arial face.
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setWeight(QFont::Bold);
  for (int em = kStatusFontHeight; em > 8; --em) {
    font.setPixelSize(em);
    if (QFontMetrics(font).height() <= kStatusFontHeight) break;
  }
  status_label_->setFont(font);
  status_label_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(status_label_, &QWidget::customContextMenuRequested, this,
          &CLanewrightDlg::ShowStatusMenu);
}

CLanewrightDlg::~CLanewrightDlg() {
  // Nothing may still be queued for the pages when they go; the watcher is
  // registered by a job, so the worker stops first; a qualification run
  // ends at its next chance instead of running on to its end.
  if (qualify_) qualify_->Stop();
  context_->Link().Stop();
  UnregisterDeviceNotify();
  DestroyPages();
}

void CLanewrightDlg::Initialize() {
  app_icon_ = sigui::DotIcon(QColor(0, 96, 245));
  setWindowIcon(app_icon_);

  // The watcher's first enumeration runs where it is registered: on the
  // board worker, before the board is looked for.
  QPointer<CLanewrightDlg> self(this);
  context_->Link().Run(
      this,
      [self, backend = context_->Backend()] {
        return RegisterDeviceNotify(
            backend, [self](DeviceWatcher::Event e, const std::string& path) {
              // Runs on the watcher's thread: the queued connection hands
              // it to the UI thread.
              if (self)
                emit self->DeviceChanged(e == DeviceWatcher::Event::kArrival,
                                         QString::fromStdString(path));
            });
      },
      [this](bool registered) {
        notify_registered_ = registered;
        // Replaced by the board state as soon as the board was looked for.
        if (!registered) SetBoardState(board_state::kRegisterFailed);
      });
  SetBoardState(board_state::kDeviceStatus);
  SetupBoard();
  CreatePages();

  if (context_->Emulated()) {
    auto* badge = new QLabel("  EMULATED BOARD  ", tabs_);
    badge->setObjectName("emulatedBadge");
    badge->setToolTip(
        tr("The built-in emulated test board is in use, not USB hardware.\n"
           "Right-click the status line to plug, unplug or inject faults."));
    badge->setStyleSheet(
        "QLabel { background: #fff3cd; color: #8a5300; border: 1px solid #e0b050;"
        " border-radius: 3px; font-weight: bold; }");
    tabs_->setCornerWidget(badge, Qt::TopRightCorner);
  }
  if (auto* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

void CLanewrightDlg::SetupBoard() {
  context_->Link().Run(
      this, [this] { return TryOpen({}); },
      [this](const OpenAttempt& a) { OnOpenAttempt(Attempt::kStart, a); });
}

CLanewrightDlg::OpenAttempt CLanewrightDlg::TryOpen(const std::string& path) {
  CDevice& device = context_->Device();
  OpenAttempt a;
  boards_ = device.FindDevices();
  if (device.CheckBoardPath(path) != 0) {  // one board at a time
    a.already_open = true;
    return a;
  }
  const int index = path.empty() ? (boards_ > 0 ? 0 : -1) : device.Hid().FindDevicePath(path);
  const auto paths = device.Hid().DevicePaths();
  if (index < 0 || index >= static_cast<int>(paths.size())) return a;
  a.tried = true;
  a.path = paths[index];
  a.result = device.OpenBoard(index);
  return a;
}

void CLanewrightDlg::OnOpenAttempt(Attempt why, const OpenAttempt& a) {
  if (a.already_open) return;
  if (!a.tried) {
    // No matching board at start-up, or the awaited one has gone; an
    // arriving device that is not a matching board changes nothing.
    if (why == Attempt::kArrival) return;
    StopWaiting();
    SetBoardState(board_state::kDisconnected);
    return;
  }
  const OpenOutcome outcome = AfterOpen(a.result);
  status_.SetNotice(outcome.notice);
  SetBoardState(outcome.state);
  if (outcome.retry) {
    waiting_path_ = a.path;
    retry_timer_.start();
  } else {
    waiting_path_.clear();
  }
  connected_ = a.result.ok();
  if (!connected_) return;
  if (ddm_) ddm_->StartUpdates();
  if (why != Attempt::kStart && dsp_) dsp_->SetResendFlag(true);
}

void CLanewrightDlg::StopWaiting() {
  waiting_path_.clear();
  retry_timer_.stop();
  status_.SetNotice({});
  RefreshStatusLabel();
}

void CLanewrightDlg::CreatePages() {
  tabs_->clear();
  AppContext& app = *context_;
  line_check_ = new CLineCheck(app, nullptr);
  dsp_ = new CDsp(app, nullptr);
  dsp_->SetLineCheckWindow(line_check_);
  ctrl_ = new CCtrl(app, nullptr);
  flag_ = new CFlag(app, nullptr);
  set0_ = new CStagedCtrlSet0(app, nullptr);
  info_ = new InfoPage(app, nullptr);
  file_ = new CTransferFile(app, nullptr);
  qualify_ = new CQualify(app, nullptr);
  QWidget* pages[kTabCount] = {line_check_, dsp_, ctrl_, flag_, set0_, info_, file_, qualify_};
  for (int i = 0; i < kTabCount; ++i) {
    tabs_->insertTab(i, pages[i], kTabs[i].label);
    tabs_->tabBar()->setTabTextColor(i, kTabs[i].colour);
  }
  tabs_->setCurrentIndex(kChecker);
  connect(tabs_, &QTabWidget::currentChanged, this, &CLanewrightDlg::OnTabChanged);
}

void CLanewrightDlg::DestroyPages() {
  delete ddm_;
  ddm_ = nullptr;
  if (tabs_) {
    // Removing tabs changes the current one: no page may be called meanwhile.
    disconnect(tabs_, &QTabWidget::currentChanged, this, nullptr);
    while (tabs_->count()) {
      QWidget* page = tabs_->widget(0);
      tabs_->removeTab(0);
      delete page;
    }
  }
  line_check_ = nullptr;
  dsp_ = nullptr;
  ctrl_ = nullptr;
  flag_ = nullptr;
  set0_ = nullptr;
  info_ = nullptr;
  file_ = nullptr;
  qualify_ = nullptr;
}

QWidget* CLanewrightDlg::Page(int tab) const { return tabs_ ? tabs_->widget(tab) : nullptr; }

QString CLanewrightDlg::StatusText() const { return status_label_->text(); }

void CLanewrightDlg::RefreshStatusLabel() {
  const QString text = QString::fromStdString(status_.Text());
  status_label_->setText(text);
  // The message part can run past the window's edge: the whole line is in the tooltip.
  status_label_->setToolTip(text.simplified());
}

void CLanewrightDlg::SetBoardState(const QString& text) {
  status_.SetBoardState(text.toStdString());
  RefreshStatusLabel();
}

void CLanewrightDlg::OnTabChanged(int index) {
  if (index == kChecker) {
    if (dsp_ && dsp_->ResendFlag() && line_check_)
      line_check_->ApplyPattern(line_check_->LastAppliedPattern());
    ShowDdm(true);
  } else {
    ShowDdm(false);
    if (line_check_) line_check_->StopIfRunning();
  }
}

void CLanewrightDlg::ShowDdm(bool show) {
  if (!show) {
    if (ddm_) ddm_->hide();
    return;
  }
  if (ddm_) {
    ddm_->show();
    return;
  }
  ddm_ = new DdmWindow(*context_, this);
  PlaceDdm();
  ddm_->show();
  // A board that opens later starts the updates then.
  if (connected_) ddm_->StartUpdates();
}

void CLanewrightDlg::PlaceDdm() {
  if (ddm_) ddm_->move(frameGeometry().topLeft() + QPoint(20, 82));
}

void CLanewrightDlg::moveEvent(QMoveEvent* event) {
  QDialog::moveEvent(event);
  PlaceDdm();
}

void CLanewrightDlg::OnDeviceChange(bool arrival, const QString& qpath) {
  qCInfo(lcGuiApp).noquote() << (arrival ? "device arrived:" : "device removed:") << qpath;
  const std::string path = qpath.toStdString();
  // Opening and closing wait for any exchange in flight: both run on the
  // board worker, by path, since the list may change before the job runs.
  if (arrival) {
    context_->Link().Run(
        this, [this, path] { return TryOpen(path); },
        [this](const OpenAttempt& a) { OnOpenAttempt(Attempt::kArrival, a); });
    return;
  }
  CDevice* device = &context_->Device();
  context_->Link().Run(
      this,
      [this, device, path] {
        const bool ours = device->CheckBoardPath(path) == 1;
        if (ours) device->CloseBoard();
        boards_ = device->FindDevices();
        return ours;
      },
      [this, path](bool closed) {
        if (closed) {
          connected_ = false;
          if (ddm_) ddm_->StopUpdates();
          if (line_check_) line_check_->StopIfRunning();
          SetBoardState(board_state::kDisconnected);
        } else if (!waiting_path_.empty() && PathsEqualIgnoringCase(path, waiting_path_)) {
          // the board we waited for is gone
          StopWaiting();
          SetBoardState(board_state::kDisconnected);
        }
      });
}

void CLanewrightDlg::OnStatusText(const QString& text) {
  status_.SetMessage(text.toStdString());
  RefreshStatusLabel();
}

bool CLanewrightDlg::nativeEvent(const QByteArray& type, void* message, qintptr* result) {
#ifdef Q_OS_WIN
  // A double click on the title bar turns on the line check's error scale.
  auto* msg = static_cast<MSG*>(message);
  if (msg->message == WM_NCLBUTTONDBLCLK && line_check_) line_check_->SetDivideByTen();
#endif
  return QDialog::nativeEvent(type, message, result);
}

void CLanewrightDlg::ShowStatusMenu(const QPoint& pos) {
  QMenu menu(this);
  auto* scale = menu.addAction(tr("Show errors and BER divided by ten (until exit)"));
  scale->setCheckable(true);
  if (line_check_) {
    connect(scale, &QAction::triggered, this, [this] {
      if (line_check_) line_check_->SetDivideByTen();
    });
  }
  auto board = context_->Emulated();
  if (board) {
    menu.addSeparator()->setText(tr("Emulated board"));
    const bool plugged = board->Plugged();
    menu.addAction(plugged ? tr("Unplug the emulated board") : tr("Plug the emulated board in"),
                   this, [board, plugged] { board->SetPlugged(!plugged); });
    menu.addAction(tr("Drop the next 3 answers"), this, [board] { board->DropAnswers(3); });
    menu.addAction(tr("Answer the next request late"), this, [board] { board->AnswerLate(1); });
    menu.addAction(tr("Corrupt the next answer's header"), this,
                   [board] { board->CorruptNextHeader(1); });
    menu.addAction(tr("Fail the next write"), this, [board] { board->FailNextWrite(1); });
  }
  menu.exec(status_label_->mapToGlobal(pos));
}
