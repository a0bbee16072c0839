#include "module/ui/info_page.h"

#include <QPainter>
#include <QPlainTextEdit>
#include <algorithm>

#include "gui/app_context.h"
#include "gui/log.h"
#include "gui/page_texts.h"
#include "gui/stale_look.h"
#include "module/cmis_decode.h"
#include "module/sfp_base.h"
#include "module/ui/cmis_panel.h"

namespace {

QFont InfoFont() {
  QFont font("Arial");
  font.setPixelSize(20);
  font.setWeight(QFont::Medium);  // 500
  return font;
}

const QColor kTextColour(0, 96, 245);
// A row the last pass could not read.
const QColor kStaleColour(150, 150, 150);

// Module text fields are bytes; show each byte as one character.
QString Text(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

// The panel starts under the fourteenth row.
constexpr int kPanelRows = 14;

InfoPage::InfoPage(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  panel_ = new QPlainTextEdit(this);
  panel_->setObjectName("cmisPanel");
  panel_->setReadOnly(true);
  panel_->setLineWrapMode(QPlainTextEdit::NoWrap);
  panel_->setFocusPolicy(Qt::ClickFocus);  // selectable, never in the tab chain
  QFont mono("Liberation Mono");
  mono.setStyleHint(QFont::Monospace);
  mono.setPixelSize(12);
  panel_->setFont(mono);
  panel_->setGeometry(0, kRowPitch * kPanelRows + 8, 400, 100);
}

void InfoPage::resizeEvent(QResizeEvent* event) {
  const int top = kRowPitch * kPanelRows + 8;
  panel_->setGeometry(0, top, width(), std::max(40, height() - top));
  QWidget::resizeEvent(event);
}

void InfoPage::showEvent(QShowEvent* event) {
  showing_result_ = false;  // whatever paint comes now wants fresh values
  QWidget::showEvent(event);
}

void InfoPage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(InfoFont());
  painter.setPen(kTextColour);
  const QFontMetrics metrics = painter.fontMetrics();
  const int value_width = width() - kValueX;
  for (size_t r = 0; r < rows_.size(); ++r) {
    const InfoRow& row = rows_[r];
    const int baseline = kRowPitch * static_cast<int>(r) + metrics.ascent();
    // A row that could not be read is greyed, without the zeros its decoder saw.
    painter.setPen(row.current ? kTextColour : kStaleColour);
    painter.drawText(0, baseline, Text(row.label));
    const QString value = row.current ? Text(row.value) : QString(pages::kNotRead);
    painter.drawText(kValueX, baseline, metrics.elidedText(value, Qt::ElideRight, value_width));
  }
  if (showing_result_) {
    showing_result_ = false;  // this paint only shows what a pass read
    return;
  }
  if (isVisible()) RequestPass();
}

void InfoPage::RequestPass() {
  if (in_flight_) {
    again_ = true;
    return;
  }
  in_flight_ = true;
  ++passes_;
  struct Pass {
    std::vector<InfoRow> rows;
    BoardResult result;
    ModuleImages images;  // the panel's decode
    bool panel_current = false;
  };
  CSfpBase& module = app_.Module();
  app_.Link().Run(
      this,
      [&module] {
        Pass pass;
        pass.rows = ReadInformation(module, &pass.result);
        // What the panel decodes: the advertisement, the status and flags
        // (their latched bytes go to the module's flag reader as any
        // status refresh's do) and, for a tunable module, page 12h.
        bool ok = static_cast<bool>(module.ReadAdvertisement());
        ok = static_cast<bool>(module.ReadStatusImage()) && ok;
        if (cmis::DecodeAdvertisement(module.Snapshot()).tunable)
          ok = static_cast<bool>(module.ReadTuningImage()) && ok;
        pass.images = module.Snapshot();
        pass.panel_current = ok;
        return pass;
      },
      [this](const Pass& pass) {
        in_flight_ = false;
        rows_ = pass.rows;
        const QString text = pages::CmisPanelLines(pass.images).join('\n');
        if (panel_->toPlainText() != text) panel_->setPlainText(text);  // keeps the scroll place
        ShowStale(panel_, !pass.panel_current);
        // Why rows are grey goes to the status line; a later whole pass takes it away.
        if (!pass.result || failure_shown_) {
          const QString text =
              pass.result ? QString() : QString::fromStdString(pages::InfoFailureText(pass.result));
          if (!text.isEmpty()) qCWarning(lcGuiModule).noquote() << text;
          emit app_.Signals().StatusText(text);
          failure_shown_ = !pass.result;
        }
        if (isVisible()) {
          showing_result_ = true;
          update();
        }
        const bool again = again_;
        again_ = false;
        if (again && isVisible()) RequestPass();
      });
}
