// The "File" page on the offscreen platform over the emulated board: its
// controls, Browse with the file dialog, Load File, Check and Cancel, the log
// box and the message boxes.
#include "transfer/ui/transfer_page.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "emulator/emulated_board.h"
#include "gui/app_context.h"

namespace {

namespace fs = std::filesystem;

struct PageTest : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  std::unique_ptr<AppContext> app;
  std::unique_ptr<CTransferFile> page;
  fs::path dir;
  QStringList messages;
  QTimer user;
  QString chosen;
  // A closed gate holds the board's pauses, so that a job stays running.
  std::mutex mutex;
  std::condition_variable cv;
  bool gate_open = true;

  void SetUp() override {
    static int run = 0;
    dir = fs::temp_directory_path() /
          ("lw_transfer_page_" + std::to_string(getpid()) + "_" + std::to_string(++run));
    fs::create_directories(dir);
    board->SetAnswerDelayMs(0);
    app = std::make_unique<AppContext>(board, board);
    app->Device().SetPause([this](int) {
      std::unique_lock lock(mutex);
      cv.wait(lock, [this] { return gate_open; });
    });
    app->Device().FindDevices();
    ASSERT_TRUE(app->Device().OpenBoard(0));
    page = std::make_unique<CTransferFile>(*app, nullptr);
    page->show();
    AnswerDialogs();
  }
  void TearDown() override {
    user.stop();
    SetGate(true);
    page.reset();
    app.reset();
    fs::remove_all(dir);
  }
  void SetGate(bool open) {
    std::lock_guard lock(mutex);
    gate_open = open;
    cv.notify_all();
  }
  template <typename W>
  W* Find(int id) {
    auto* w = page->findChild<W*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  QString Log() { return Find<QPlainTextEdit>(33053)->toPlainText(); }
  bool WaitForLog(const QString& line, int times = 1) {
    const bool seen =
        QTest::qWaitFor([&] { return Log().count(">>" + line + " \n") >= times; }, 5000);
    QTest::qWait(20);  // the job's end follows its last line
    return seen;
  }
  std::string File(const std::string& name, const std::string& contents) {
    const auto path = (dir / name).string();
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  // The user at the modal dialogs: picks `chosen` in the file dialog, reads
  // and closes every message box.
  void AnswerDialogs() {
    QObject::connect(&user, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        // Typed into the name field: selectFile() depends on the dialog's
        // directory listing, which arrives from a thread of its own.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(chosen);
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
      } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        messages << box->text();
        box->accept();
      }
    });
    user.start(10);
  }
  void Browse(const std::string& path) {
    chosen = QString::fromStdString(path);
    Find<QPushButton>(33050)->click();
  }
};

TEST_F(PageTest, ControlsCarryTheirIdsAndCaptions) {
  struct Row {
    int id;
    const char* caption;
  };
  for (const Row& r :
       {Row{33050, "Browse"}, Row{33052, "Load File"}, Row{33054, "Cancel"}, Row{33055, "Check"}}) {
    auto* button = Find<QPushButton>(r.id);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), r.caption);
    EXPECT_EQ(button->property("controlId").toInt(), r.id);
  }
  ASSERT_NE(Find<QLineEdit>(33049), nullptr);
  auto* bar = Find<QProgressBar>(33051);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  ASSERT_NE(Find<QPlainTextEdit>(33053), nullptr);
}

TEST_F(PageTest, BrowseLoadCheckAndCancel) {
  const std::string path =
      File("image.txt",
           "/ two blocks\r\n"
           "0302010007060504\r\n0B0A09080F0E0D0C13121110171615141B1A19181F1E1D1C"
           "2322212027262524\r\n2B2A29282F2E2D2C33323130373635343B3A39383F3E3D3C\r\n");
  Browse(path);
  ASSERT_TRUE(WaitForLog("读取文件内容完毕!"));
  EXPECT_EQ(Find<QLineEdit>(33049)->text(), QString::fromStdString(path));
  EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

  auto* browse = Find<QPushButton>(33050);
  auto* load = Find<QPushButton>(33052);
  auto* check = Find<QPushButton>(33055);
  SetGate(false);
  load->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !browse->isEnabled() && !load->isEnabled(); }, 2000))
      << "Browse and Load File wait for the load";
  EXPECT_TRUE(check->isEnabled()) << "a check may be asked for; it waits";
  EXPECT_GE(app->Link().Pending(), 1u) << "the load runs on the board worker the pages share";
  SetGate(true);
  ASSERT_TRUE(WaitForLog("写入数据完成!"));
  EXPECT_TRUE(browse->isEnabled() && load->isEnabled());
  EXPECT_EQ(Find<QProgressBar>(33051)->value(), 100);
  {
    auto lock = board->Lock();
    const auto& eeprom = board->Mailbox().Eeprom();
    for (int i = 0; i < 64; ++i) ASSERT_EQ(eeprom[i], i) << i;
  }

  check->click();
  ASSERT_TRUE(WaitForLog("数据校验成功,无异常!"));
  Find<QPushButton>(33054)->click();
  ASSERT_TRUE(WaitForLog("Terminate File Transfer!"));
  EXPECT_EQ(Find<QProgressBar>(33051)->value(), 0);
  EXPECT_EQ(Log(),
            ">>开始读取文件内容! \n>>读取文件内容完毕! \n"
            ">>进入EEPROM加载模式! \n>>写入数据块数据  Address:0x0    DataSize:2048 \n"
            ">>写入数据完成! \n"
            ">>进入EEPROM加载模式! \n>>读入数据块数据 Address:0x0  DataSize:2048 \n"
            ">>数据校验正常! 已校验字节数据地址:0x0 \n>>数据校验成功,无异常! \n"
            ">>Terminate File Transfer! \n");
}

TEST_F(PageTest, UnusablePageFilesAreToldInMessageBoxes) {
  Browse(File("comments.txt", "/ nothing but a comment\n"));
  ASSERT_TRUE(WaitForLog("读取文件内容完毕!"));
  EXPECT_EQ(messages, QStringList{"不支持的文件版本"});

  messages.clear();
  Browse(File("bad.txt", "01020304\n05 60708\n"));
  const QString error =
      "Page file error at line 2, column 3: a blank inside a group (blanks may only stand "
      "between whole groups); no image";
  ASSERT_TRUE(WaitForLog(error));
  EXPECT_TRUE(QTest::qWaitFor([&] { return messages.size() == 1; }, 2000));
  EXPECT_EQ(messages, QStringList{error});

  if (geteuid() != 0) {  // permissions do not stop root
    messages.clear();
    const auto locked = File("locked.txt", "01020304\n");
    fs::permissions(locked, fs::perms::none);
    Browse(locked);
    ASSERT_TRUE(WaitForLog("读取文件内容完毕!", 2));
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith("无法打开文件！\n错误13: ")) << messages[0].toStdString();
    EXPECT_EQ(messages[1], "不支持的文件版本");
  }
  // No image came of any of them.
  messages.clear();
  Find<QPushButton>(33052)->click();
  EXPECT_TRUE(WaitForLog("未加载文件!"));
  EXPECT_EQ(board->RequestCount(), 0u);
}

}  // namespace
