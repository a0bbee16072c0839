#include "app/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "app/main_window.h"
#include "pages/ddm_window.h"

namespace {

// The window as it stands on the screen (with the diagnostics window over
// it), or the widget alone where the platform cannot grab the screen.
QPixmap GrabWindow(QWidget* w) {
  if (auto* screen = w->screen()) {
    QPixmap shot = screen->grabWindow(0, w->frameGeometry().x(), w->frameGeometry().y(),
                                      w->frameGeometry().width(), w->frameGeometry().height());
    if (!shot.isNull() && shot.toImage().pixelColor(5, 5) != QColor(Qt::black)) return shot;
  }
  return w->grab();
}

void Step(CLanewrightDlg* window, QString dir, int tab) {
  auto* tabs = window->Tabs();
  if (tab < tabs->count()) {
    tabs->setCurrentIndex(tab);
    QTimer::singleShot(2000, window, [window, dir, tab] {
      const QString name = QString("%1/tab%2-%3.png").arg(dir).arg(tab).arg(window->Tabs()->tabText(tab));
      if (!GrabWindow(window).save(name)) std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
      if (tab == 0 && window->Ddm()) window->Ddm()->grab().save(dir + "/ddm.png");
      Step(window, dir, tab + 1);
    });
    return;
  }
  tabs->setCurrentIndex(0);
  QTimer::singleShot(200, qApp, &QApplication::quit);
}

}  // namespace

void TakeScreenshots(CLanewrightDlg* window, const QString& dir) {
  QDir().mkpath(dir);
  // The diagnostics window refreshes first 3.5 s after start.
  QTimer::singleShot(4500, window, [window, dir] { Step(window, dir, 0); });
}
