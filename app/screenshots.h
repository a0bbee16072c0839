// Renders every tab, the diagnostics window and the line check at work
// (running page, BER diagram, Config dialog) into PNG files, for the README.
#pragma once

#include <QString>

class CLanewrightDlg;

// Steps through the tabs after the pages have had time to refresh, writes
// DIR/tabN-LABEL.png (the Qualify tab after a run of examples/plan.toml
// when that file is there) and DIR/ddm.png, then runs the line check for a few
// seconds and writes DIR/tab0-Checker-running.png, DIR/ber-diagram.png and
// DIR/config-dialog.png, then quits the application.
void TakeScreenshots(CLanewrightDlg* window, const QString& dir);
