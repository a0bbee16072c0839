// The GUI's logging categories, one per area, under "lw.gui". Turn them on
// with QT_LOGGING_RULES, for example QT_LOGGING_RULES="lw.gui.*.debug=true";
// warnings are on by default, info and debug off.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcGuiKit)       // lw.gui.kit: board link, page kit
Q_DECLARE_LOGGING_CATEGORY(lcGuiApp)       // lw.gui.app: main window, board arrival and removal
Q_DECLARE_LOGGING_CATEGORY(lcGuiModule)    // lw.gui.module: module pages, diagnostics window
Q_DECLARE_LOGGING_CATEGORY(lcGuiSignal)    // lw.gui.signal: Checker, Dsp, BER diagram
Q_DECLARE_LOGGING_CATEGORY(lcGuiTransfer)  // lw.gui.transfer: File page
Q_DECLARE_LOGGING_CATEGORY(lcGuiQualify)   // lw.gui.qualify: Qualify tab
