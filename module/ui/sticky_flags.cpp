#include "module/ui/sticky_flags.h"

#include <QDateTime>
#include <cstring>

namespace pages {

namespace {

QString ClockText(FlagReader::Clock::time_point t) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms).toString("HH:mm:ss");
}

}  // namespace

QString StickyMark::Badge() const {
  if (count <= 0) return {};
  return count > 99 ? QStringLiteral("99+x") : QStringLiteral("%1x").arg(count);
}

namespace {

// keys empty: every flag of every lane, the lane named in the line.
StickyMark Collect(const FlagReader::Snapshot& flags, const std::vector<const char*>* keys,
                   int lane) {
  StickyMark mark;
  QStringList lines;
  for (const FlagReader::Record& r : flags.records) {
    if (!r.flag || !r.Sticky()) continue;
    if (keys) {
      if (r.lane != lane) continue;
      bool wanted = false;
      for (const char* key : *keys) wanted = wanted || std::strcmp(key, r.flag->key) == 0;
      if (!wanted) continue;
    }
    mark.count += r.count;
    QString name = QString::fromUtf8(r.flag->name);
    if (!keys && r.lane) name += QStringLiteral(" lane %1").arg(r.lane);
    QString line = QStringLiteral("%1: raised %2x").arg(name).arg(r.count);
    if (r.first_set) line += QStringLiteral(", first %1").arg(ClockText(*r.first_set));
    if (r.count > 1 && r.last_set) line += QStringLiteral(", last %1").arg(ClockText(*r.last_set));
    lines << line;
  }
  mark.tooltip = lines.join('\n');
  return mark;
}

}  // namespace

StickyMark Sticky(const FlagReader::Snapshot& flags, const std::vector<const char*>& keys,
                  int lane) {
  return Collect(flags, &keys, lane);
}

StickyMark StickyAll(const FlagReader::Snapshot& flags) { return Collect(flags, nullptr, 0); }

}  // namespace pages
