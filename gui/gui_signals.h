// What the views tell the shell, as typed Qt signals. Every view reaches the
// one GuiSignals through its AppContext and emits; the main window connects
// to them with queued connections, so a signal takes effect after the event
// that emitted it (a page's constructor included), in the order emitted, on
// the user-interface thread whatever thread emitted it.
#pragma once

#include <QObject>
#include <QString>

class GuiSignals : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 signals:
  // Show (true) or hide the diagnostics window beside the "Checker" tab
  // (MSG_SHOW_DDM): the line check page asks once when it is built.
  void ShowDdmRequested(bool show);
  // The Dsp page re-reads the board's power and sends its mode report
  // (MSG_REFRESH_DSP): the diagnostics window asks at each refresh.
  void RefreshDspRequested();
  // The status line's message part (MSG_STATUS_TEXT); an empty text clears it.
  void StatusText(const QString& text);
};
