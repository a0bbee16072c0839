// Every control of a view carries its control id: object name "id<number>"
// and property "controlId", which the tests, the screenshots and the
// window layouts find it by.
#pragma once

#include <QString>
#include <QVariant>

namespace gui {

template <typename W>
W* Tag(W* widget, int id) {
  widget->setObjectName(QStringLiteral("id%1").arg(id));
  widget->setProperty("controlId", id);
  return widget;
}

}  // namespace gui
