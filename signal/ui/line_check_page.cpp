#include "signal/ui/line_check_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/messages.h"

CLineCheck::CLineCheck(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Line check: not built yet"), this), 0, Qt::AlignCenter);
  // Asks the main window to show the diagnostics window beside this page.
  PostAppMessage(app.MainWindow(), MSG_SHOW_DDM, 1);
}

void CLineCheck::StopIfRunning() {}
void CLineCheck::ApplyPattern(uint8_t) {}
uint8_t CLineCheck::LastAppliedPattern() const { return 0xFF; }
void CLineCheck::SetDivideByTen() {}
