// The GUI's logging: a QLoggingCategory per GUI area, and the core's log
// (board/log.h) routed into QLoggingCategory ones, all under "lanewright":
// the core's layers as the core names them ("lanewright.board",
// "lanewright.module" ...), the GUI's areas below "lanewright.gui".
// QT_LOGGING_RULES decides what shows, for example
// QT_LOGGING_RULES="lanewright.*.debug=true"; warnings show by default,
// info and debug do not. LANEWRIGHT_TRACE=1 still turns on the board's
// report dump (debug lines of "lanewright.board").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcGuiKit)  // lanewright.gui.kit: board link, page kit
Q_DECLARE_LOGGING_CATEGORY(lcGuiApp)  // lanewright.gui.app: main window, board arrival and removal
Q_DECLARE_LOGGING_CATEGORY(lcGuiModule)  // lanewright.gui.module: module pages, diagnostics window
Q_DECLARE_LOGGING_CATEGORY(lcGuiSignal)  // lanewright.gui.signal: Checker, Dsp, BER diagram
Q_DECLARE_LOGGING_CATEGORY(lcGuiTransfer)  // lanewright.gui.transfer: File page
Q_DECLARE_LOGGING_CATEGORY(lcGuiQualify)   // lanewright.gui.qualify: Qualify tab

namespace gui {

// Sends every line the core logs to the QLoggingCategory of its layer, and
// sets each layer's threshold in the core from what that category has
// enabled (so the core formats no line Qt would drop). Call once the
// logging rules are set, after QApplication is made; any thread may log.
void RouteCoreLog();

}  // namespace gui
