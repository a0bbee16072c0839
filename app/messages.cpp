#include "app/messages.h"

#include <QCoreApplication>

void PostAppMessage(QObject* to, int type, qintptr wparam, QString text, QByteArray data) {
  if (to)
    QCoreApplication::postEvent(to, new AppMessage(type, wparam, std::move(text), std::move(data)));
}
