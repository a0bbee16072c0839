#include "gui/log.h"

#include <QString>
#include <array>
#include <cstdlib>

#include "board/log.h"

Q_LOGGING_CATEGORY(lcGuiKit, "lanewright.gui.kit", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiApp, "lanewright.gui.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiModule, "lanewright.gui.module", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiSignal, "lanewright.gui.signal", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiTransfer, "lanewright.gui.transfer", QtWarningMsg)
Q_LOGGING_CATEGORY(lcGuiQualify, "lanewright.gui.qualify", QtWarningMsg)

namespace gui {

namespace {

using lwlog::Category;
using lwlog::Level;

// One Qt category per core layer, made once and kept for the process (the
// core may log from any thread up to its end).
const std::array<QLoggingCategory*, lwlog::kCategoryCount>& CoreCategories() {
  static const auto categories = [] {
    std::array<QLoggingCategory*, lwlog::kCategoryCount> out{};
    for (int i = 0; i < lwlog::kCategoryCount; ++i)
      out[i] = new QLoggingCategory(lwlog::CategoryName(static_cast<Category>(i)), QtWarningMsg);
    return out;
  }();
  return categories;
}

bool TraceAsked() {
  const char* v = std::getenv("LANEWRIGHT_TRACE");
  return v && *v && *v != '0';
}

}  // namespace

void RouteCoreLog() {
  const auto& categories = CoreCategories();
  if (TraceAsked()) {
    categories[static_cast<int>(Category::kBoard)]->setEnabled(QtDebugMsg, true);
    categories[static_cast<int>(Category::kBoard)]->setEnabled(QtInfoMsg, true);
  }
  for (int i = 0; i < lwlog::kCategoryCount; ++i) {
    const QLoggingCategory& c = *categories[i];
    const Level lowest = c.isDebugEnabled()     ? Level::kDebug
                         : c.isInfoEnabled()    ? Level::kInfo
                         : c.isWarningEnabled() ? Level::kWarning
                                                : Level::kError;
    lwlog::SetThreshold(static_cast<Category>(i), lowest);
  }
  lwlog::SetLogSink([](Category category, Level level, std::string_view line) {
    const QLoggingCategory& c = *CoreCategories()[static_cast<int>(category)];
    const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    switch (level) {
      case Level::kDebug:
        qCDebug(c).noquote() << text;
        break;
      case Level::kInfo:
        qCInfo(c).noquote() << text;
        break;
      case Level::kWarning:
        qCWarning(c).noquote() << text;
        break;
      case Level::kError:
        qCCritical(c).noquote() << text;
        break;
    }
  });
}

}  // namespace gui
