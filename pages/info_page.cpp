#include "pages/info_page.h"

#include <QPainter>

#include "app/app_context.h"
#include "module/sfp_base.h"

namespace {

QFont InfoFont() {
  QFont font("Arial");
  font.setPixelSize(20);
  font.setWeight(QFont::Medium);  // 500
  return font;
}

const QColor kTextColour(0, 96, 245);

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
    const int baseline = kRowPitch * static_cast<int>(r) + metrics.ascent();
    painter.drawText(0, baseline, Text(rows_[r].label));
    painter.drawText(kValueX, baseline,
                     metrics.elidedText(Text(rows_[r].value), Qt::ElideRight, value_width));
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
  CSfpBase& module = app_.Module();
  app_.Link().Run(
      this, [&module] { return ReadInformation(module); },
      [this](const std::vector<InfoRow>& rows) {
        in_flight_ = false;
        rows_ = rows;
        if (isVisible()) {
          showing_result_ = true;
          update();
        }
        const bool again = again_;
        again_ = false;
        if (again && isVisible()) RequestPass();
      });
}
