#include "signal/ui/dsp_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/app_context.h"

CDsp::CDsp(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("DSP registers: not built yet"), this), 0, Qt::AlignCenter);
}

void CDsp::SetLineCheckWindow(QObject*) {}
void CDsp::Refresh() {}
bool CDsp::ResendFlag() const { return false; }
void CDsp::SetResendFlag(bool) {}
