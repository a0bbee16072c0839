#include "pages/ctrl_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/app_context.h"

CCtrl::CCtrl(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Module controls: not built yet"), this), 0, Qt::AlignCenter);
}

