#include "pages/ddm_window.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/app_context.h"

CDDM::CDDM(AppContext& app, QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), app_(app) {
  resize(330, 480);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Diagnostics: not built yet"), this), 0, Qt::AlignCenter);
}

void CDDM::StartUpdates() {}
void CDDM::StopUpdates() {}
