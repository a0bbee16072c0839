#include "gui/log.h"

Q_LOGGING_CATEGORY(lcGuiKit, "lw.gui.kit", QtInfoMsg)
Q_LOGGING_CATEGORY(lcGuiApp, "lw.gui.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcGuiModule, "lw.gui.module", QtInfoMsg)
Q_LOGGING_CATEGORY(lcGuiSignal, "lw.gui.signal", QtInfoMsg)
Q_LOGGING_CATEGORY(lcGuiTransfer, "lw.gui.transfer", QtInfoMsg)
Q_LOGGING_CATEGORY(lcGuiQualify, "lw.gui.qualify", QtInfoMsg)
