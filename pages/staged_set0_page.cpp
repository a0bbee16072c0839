#include "pages/staged_set0_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/app_context.h"

CStagedCtrlSet0::CStagedCtrlSet0(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Staged control set 0: not built yet"), this), 0, Qt::AlignCenter);
}

