// How a control shows that what it holds is not a current reading (the
// read behind it failed, or the board is gone): its text greyed, its value
// left as it was.
#pragma once

class QWidget;

// Greys the control's text, or gives it back its normal colours.
void ShowStale(QWidget* control, bool stale);
// The control is greyed as stale.
bool IsStale(const QWidget* control);
