// Renders every tab and the diagnostics window into PNG files, for the README.
#pragma once

#include <QString>

class CLanewrightDlg;

// Steps through the tabs after the pages have had time to refresh, writes
// DIR/tabN-LABEL.png and DIR/ddm.png, then quits the application.
void TakeScreenshots(CLanewrightDlg* window, const QString& dir);
