#include "gui/log.h"

Q_LOGGING_CATEGORY(lcGuiKit, "lw.gui.kit", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiApp, "lw.gui.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiModule, "lw.gui.module", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiSignal, "lw.gui.signal", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiTransfer, "lw.gui.transfer", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiQualify, "lw.gui.qualify", QtWarningMsg)
