// The application's private messages: posted Qt events whose type is the
// message value. Texts and records travel by value.
#pragma once

#include <QByteArray>
#include <QEvent>
#include <QString>

enum AppMessageType {
  MSG_SHOW_DDM = 0x07D9,     // wparam 1 show, 0 hide the diagnostics window
  MSG_REFRESH_DSP = 0x07E3,  // the DSP page re-reads the power and sends its mode report
  MSG_STATUS_TEXT = 0x07E4,  // text: the status line's message part
  MSG_MODE_REPORT = 0x04D3,  // DSP page -> line check: wparam mode word, data 6-byte record
  MSG_OPEN_CHART = 0x0401,   // line check -> itself: wparam the DSP lane whose chart to show
  MSG_DEVICE_CHANGE = 0x7101,  // device watcher -> main window: wparam 1 arrival, 0 removal
};

class AppMessage : public QEvent {
 public:
  AppMessage(int type, qintptr wparam, QString text = {}, QByteArray data = {})
      : QEvent(static_cast<QEvent::Type>(type)),
        wparam(wparam),
        text(std::move(text)),
        data(std::move(data)) {}
  qintptr wparam;
  QString text;
  QByteArray data;
};

class QObject;
// Posts a message to `to` (thread-safe).
void PostAppMessage(QObject* to, int type, qintptr wparam, QString text = {},
                    QByteArray data = {});
