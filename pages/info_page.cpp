#include "pages/info_page.h"

#include <QPainter>

#include "app/app_context.h"
#include "app/messages.h"
#include "module/sfp_base.h"
#include "pages/page_texts.h"

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

CINFO::CINFO(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {}

void CINFO::showEvent(QShowEvent* event) {
  showing_result_ = false;  // whatever paint comes now wants fresh values
  QWidget::showEvent(event);
}

void CINFO::paintEvent(QPaintEvent*) {
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

void CINFO::RequestPass() {
  if (in_flight_) {
    again_ = true;
    return;
  }
  in_flight_ = true;
  ++passes_;
  struct Pass {
    std::vector<InfoRow> rows;
    BoardResult result;
  };
  CSfpBase& module = app_.Module();
  app_.Link().Run(
      this,
      [&module] {
        Pass pass;
        pass.rows = ReadInformation(module, &pass.result);
        return pass;
      },
      [this](const Pass& pass) {
        in_flight_ = false;
        rows_ = pass.rows;
        // Why rows are grey goes to the status line; a later whole pass takes it away.
        if (!pass.result || failure_shown_) {
          PostAppMessage(app_.MainWindow(), MSG_STATUS_TEXT, 0,
                         pass.result ? QString()
                                     : QString::fromStdString(pages::InfoFailureText(pass.result)));
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
