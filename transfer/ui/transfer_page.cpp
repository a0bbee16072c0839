#include "transfer/ui/transfer_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/app_context.h"

CTransferFile::CTransferFile(AppContext& app, QWidget* parent) : QWidget(parent), app_(app) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Page-file transfer: not built yet"), this), 0, Qt::AlignCenter);
}

