// lanewright: the desktop application.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QMessageBox>
#include <array>
#include <clocale>
#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "app/screenshots.h"
#include "emulator/emulated_board.h"
#include "gui/log.h"
#include "lw_version.h"

int main(int argc, char** argv) {
  // --help and --version need no display.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version")
      qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  // Qt has set the C library's locale from the environment: with a German
  // locale every printf would write "38,54". Numbers in files and fixed
  // formats are written with a dot.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName("lanewright");
  QApplication::setApplicationVersion(LW_VERSION);
  // The core's log lines go through Qt's logging, by layer.
  gui::RouteCoreLog();

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Tests 400G QSFP-DD (CMIS) modules through the Lanewright USB test board.\n"
      "Without --emulate the first matching USB board (0483:0211 version 0200) is used.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption emulate(
      "emulate",
      "Use the built-in emulated board. Plain --emulate keeps its state in memory; "
      "--emulate=FILE keeps its non-volatile state (module memory, saved DSP block, "
      "EEPROM) in FILE across runs.",
      "FILE");
  QCommandLineOption module_live(
      "emulate-live",
      "A loaded module dump is live at once (default: it reads as captured until the "
      "first write to the module).");
  QCommandLineOption module_dump("emulate-module",
                                 "Load a module memory dump into the emulated board.", "FILE");
  QCommandLineOption screenshots("screenshots",
                                 "Render every tab, the diagnostics window and a short line check "
                                 "into DIR as PNG files, then exit.",
                                 "DIR");
  QCommandLineOption lane_ber(
      "emulate-ber",
      "The emulated lanes' bit-error ratio: one value for all eight lanes, or eight "
      "values B1,...,B8 for DSP lanes 1-8 (0: a clean lane).",
      "BER");
  parser.addOption(screenshots);
  parser.addOption(lane_ber);
  parser.addOption(emulate);
  parser.addOption(module_dump);
  parser.addOption(module_live);
  // Plain "--emulate" without a value is allowed too.
  QStringList args = app.arguments();
  for (auto& a : args)
    if (a == "--emulate") a = "--emulate=";
  parser.process(args);

  std::shared_ptr<emu::EmulatedBoard> board;
  if (parser.isSet(emulate) || parser.isSet(module_dump) || parser.isSet(lane_ber)) {
    board = std::make_shared<emu::EmulatedBoard>();
    const QString state = parser.value(emulate);
    std::string error;
    if (!state.isEmpty() && !board->LoadState(state.toStdString(), &error)) {
      std::fprintf(stderr, "lanewright: emulated board state: %s\n", error.c_str());
      QMessageBox::critical(nullptr, CLanewrightDlg::kCaption,
                            QString::fromStdString("Emulated board state: " + error));
      return 1;
    }
    if (parser.isSet(lane_ber)) {
      std::array<double, 8> bers;
      if (!emu::ParseLaneBers(parser.value(lane_ber).toStdString(), &bers, &error)) {
        std::fprintf(stderr, "lanewright: --emulate-ber: %s\n", error.c_str());
        return 2;
      }
      auto lock = board->Lock();
      for (int lane = 1; lane <= 8; ++lane) board->Prbs().SetLaneBer(lane, bers[lane - 1]);
    }
    if (parser.isSet(module_dump)) {
      // For this run only: a state file keeps its own module.
      emu::EmulatedBoard::StateError dump_error;
      if (!board->LoadModuleDumpFile(parser.value(module_dump).toStdString(), false, &dump_error)) {
        std::fprintf(stderr, "lanewright: module dump: %s\n", dump_error.text.c_str());
        return 1;
      }
      auto lock = board->Lock();
      if (parser.isSet(module_live)) board->Module().StartLive();
    }
  }

  int status = 0;
  {
    std::shared_ptr<HidBackend> backend =
        board ? std::shared_ptr<HidBackend>(board) : MakeHidapiBackend();
    CLanewrightDlg window(backend, board);
    window.Initialize();
    window.show();
    if (parser.isSet(screenshots)) TakeScreenshots(&window, parser.value(screenshots));
    status = app.exec();
  }
  if (board) {
    std::string error;
    if (!board->SaveState(&error)) {
      std::fprintf(stderr, "lanewright: cannot save the emulated board state: %s\n", error.c_str());
      return 1;
    }
  }
  return status;
}
