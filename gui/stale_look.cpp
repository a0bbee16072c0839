#include "gui/stale_look.h"

#include <QPalette>
#include <QVariant>
#include <QWidget>

namespace {
constexpr const char* kProperty = "stale";
}

void ShowStale(QWidget* control, bool stale) {
  if (IsStale(control) == stale) return;
  control->setProperty(kProperty, stale);
  if (!stale) {
    control->setPalette(QPalette());  // inherits again
    return;
  }
  QPalette palette = control->palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
      palette.setColor(group, role, palette.color(QPalette::Disabled, role));
  control->setPalette(palette);
}

bool IsStale(const QWidget* control) { return control->property(kProperty).toBool(); }
