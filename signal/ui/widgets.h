// Small helpers shared by the signal test's views.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QWidget>

#include "gui/control_id.h"

namespace sigui {

using gui::Tag;

// A shaded dot of one colour (lamps, the application icon).
QIcon DotIcon(const QColor& colour);

// The lock lamps: a green and a red dot.
QIcon LampIcon(bool locked);

// Text colours of the channel fields (0x9B00 and 0xFF as 0x00BBGGRR).
inline QColor GoodColour() { return QColor(0, 155, 0); }
inline QColor BadColour() { return QColor(255, 0, 0); }

}  // namespace sigui
