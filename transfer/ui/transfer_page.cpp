#include "transfer/ui/transfer_page.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include "gui/app_context.h"
#include "gui/control_id.h"
#include "gui/dlu.h"
#include "transfer/transfer_texts.h"

namespace texts = transfer::texts;

namespace {

QString U8(const std::string& text) { return QString::fromStdString(text); }

// "页文件(*.txt)|*.txt|所有文件(*.*)|*.*||" as Qt writes it: each description
// carries its pattern in parentheses already.
QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split('|', Qt::SkipEmptyParts);
  QStringList names;
  for (int i = 0; i < parts.size(); i += 2) names << parts[i];
  return names.join(";;");
}

// Template 162: position and size in dialog units.
struct Place {
  int x, y, w, h;
};

template <typename W>
W* Control(W* widget, int id, Place p) {
  gui::Tag(widget, id)->setGeometry(Dlu(p.x), Dlu(p.y), Dlu(p.w), Dlu(p.h));
  return widget;
}

}  // namespace

CTransferFile::CTransferFile(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  setMinimumSize(Dlu(329), Dlu(211));
  auto* label = new QLabel(QString::fromUtf8(texts::kFileLabel), this);
  label->setGeometry(Dlu(10), Dlu(14), Dlu(24), Dlu(10));
  path_edit_ = Control(new QLineEdit(this), 33049, {36, 12, 216, 14});
  path_edit_->setReadOnly(true);
  browse_ =
      Control(new QPushButton(QString::fromUtf8(texts::kBrowse), this), 33050, {260, 11, 58, 16});
  progress_ = Control(new QProgressBar(this), 33051, {10, 34, 308, 12});
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  auto* frame = new QGroupBox(this);
  frame->setGeometry(Dlu(10), Dlu(50), Dlu(308), Dlu(128));
  log_ = Control(new QPlainTextEdit(this), 33053, {16, 58, 296, 114});
  log_->setReadOnly(true);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  load_ =
      Control(new QPushButton(QString::fromUtf8(texts::kLoadFile), this), 33052, {40, 186, 60, 16});
  check_ =
      Control(new QPushButton(QString::fromUtf8(texts::kCheck), this), 33055, {135, 186, 60, 16});
  cancel_ =
      Control(new QPushButton(QString::fromUtf8(texts::kCancel), this), 33054, {230, 186, 60, 16});

  // The engine's steps run on the board worker, its conversion on a thread of
  // its own: both hand everything over as queued events.
  transfer::Callbacks callbacks;
  callbacks.log = [this](const std::string& text) {
    QMetaObject::invokeMethod(
        this, [this, line = U8(text)] { AppendLog(line); }, Qt::QueuedConnection);
  };
  callbacks.progress = [this](const transfer::Progress& p) {
    QMetaObject::invokeMethod(
        this, [this, percent = p.percent] { ShowTransferProgress(percent); }, Qt::QueuedConnection);
  };
  callbacks.activity = [this](const transfer::Activity& a) {
    QMetaObject::invokeMethod(
        this, [this, a] { ShowActivity(a); }, Qt::QueuedConnection);
  };
  engine_ = std::make_unique<transfer::TransferEngine>(app_.Device(), std::move(callbacks),
                                                       transfer::Options{&app_.Link().Worker()});

  connect(browse_, &QPushButton::clicked, this, &CTransferFile::BrowsePageFile);
  connect(load_, &QPushButton::clicked, this, [this] { engine_->StartLoad(); });
  connect(check_, &QPushButton::clicked, this, [this] { engine_->StartCheck(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { engine_->CancelLoad(); });
}

CTransferFile::~CTransferFile() {
  // Stops the jobs between two exchanges while this page can still take events:
  // waits for a step in flight at most.
  engine_.reset();
}

void CTransferFile::BrowsePageFile() {
  if (activity_.converting || activity_.Transferring()) return;
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QtFilter(QString::fromUtf8(texts::kFileFilter)));
  dialog.setDefaultSuffix("txt");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  file_path_ = dialog.selectedFiles().first();
  path_edit_->setText(file_path_);

  transfer::OpenError error;
  switch (engine_->ReadPageFile(file_path_.toStdString(), &error)) {
    case transfer::TransferEngine::ReadStatus::kBusy:
      return;  // a transfer began meanwhile: the image stays as it is
    case transfer::TransferEngine::ReadStatus::kCannotOpen:
      ShowMessage(U8(texts::CannotOpen(error.code, error.words)));
      [[fallthrough]];
    case transfer::TransferEngine::ReadStatus::kNoData:
      ShowMessage(QString::fromUtf8(texts::kUnsupportedFile));
      break;
    case transfer::TransferEngine::ReadStatus::kOk:
      break;
  }
  engine_->StartConversion();
}

void CTransferFile::AppendLog(const QString& text) {
  const QString line = U8(texts::LogLine(text.toStdString()));
  log_text_ += line;
  QTextCursor end(log_->document());
  end.movePosition(QTextCursor::End);
  end.insertText(QString(line).remove('\r'));
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void CTransferFile::ShowTransferProgress(int percent) { progress_->setValue(percent); }

void CTransferFile::ShowActivity(const transfer::Activity& activity) {
  const bool converted = activity_.converting && !activity.converting;
  activity_ = activity;
  browse_->setEnabled(!activity.converting && !activity.Transferring());
  load_->setEnabled(!activity.loading);
  check_->setEnabled(!activity.checking);
  if (converted) {
    const auto result = engine_->LastResult(transfer::Job::kConversion);
    if (result.outcome == transfer::Outcome::kInvalidFile)
      ShowMessage(U8(texts::PageFileInvalid(result.detail)));
  }
}

void CTransferFile::ShowMessage(const QString& text) {
  QWidget* owner = app_.MainWindow() ? app_.MainWindow() : this;
  // Window-modal without a nested event loop: engine events keep flowing.
  auto* box =
      new QMessageBox(QMessageBox::Warning, owner->windowTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}
