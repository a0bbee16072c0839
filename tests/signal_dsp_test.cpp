// The DSP block table, the DSP page's WRITE checks and mode-report rules,
// and the JSON form, against blocks read from the emulated board.
#include <gtest/gtest.h>

#include "board/device.h"
#include "emulator/emulated_board.h"
#include "signal/dsp_json.h"
#include "signal/dsp_page_model.h"

namespace {

using namespace sigtest;

DspBlock Patterned() {
  DspBlock b;
  for (int i = 0; i < kDspBlockSize; ++i) b[i] = static_cast<uint8_t>(i * 37 + 11);
  return b;
}

const DspField& Field(DspSection section, const char* key) {
  const DspField* f = FindDspField(section, key);
  EXPECT_NE(f, nullptr) << key;
  return *f;
}

// Where each control reads its value: rows against block offsets.
TEST(DspBlockTable, FieldsSitWhereTheBoardKeepsThem) {
  DspBlock b{};
  struct Case {
    DspSection section;
    const char* key;
    int entry;
    int offset;
    uint8_t raw;  // byte written at the offset
    unsigned value;
  } cases[] = {
      {DspSection::kGlobal, "signalling", 0, 0, 0xFD, 1},
      {DspSection::kGlobal, "ref_clk_mode", 0, 0, 0x02, 1},
      {DspSection::kGlobal, "op_mode", 0, 0, 6 << 2 | 0xC3, 6},
      {DspSection::kGlobal, "monclk1_div", 0, 163, 5, 5},
      {DspSection::kRx, "dsp_mode", 7, 8, 13, 13},
      {DspSection::kRx, "afe_trim", 0, 9, 16, 16},
      {DspSection::kRx, "ctle", 1, 19, 0x34, 0x34},
      {DspSection::kRx, "dfe", 2, 35, 0x02, 1},
      {DspSection::kRx, "vga", 2, 35, 0xF7, 0},
      {DspSection::kTx, "lut_mode", 3, 44, 0xF2, 2},
      {DspSection::kTx, "precoder", 0, 41, 0x80, 1},
      {DspSection::kTx, "swing", 7, 56, 0x46, 6},
      {DspSection::kTx, "pre", 0, 57, 0x07, 7},
      {DspSection::kTx, "outer_eye", 7, 135, 0x2C, 0x2C},
      {DspSection::kTx, "lut_mode", 8, 137, 0x13, 3},  // first (Monclk) row
      {DspSection::kTx, "gray_map", 9, 138, 0x10, 1},
      {DspSection::kTx, "pre", 9, 141, 0x09, 9},  // 139, 141
      {DspSection::kTx, "main", 8, 143, 0xA8, 0xA8},
      {DspSection::kTx, "outer_eye", 9, 157, 0x01, 1},
      {DspSection::kTx, "swing", 9, 160, 0x46, 0x46},  // the whole byte
  };
  for (const auto& c : cases) {
    b.fill(0);
    b[c.offset] = c.raw;
    EXPECT_EQ(GetDsp(b, Field(c.section, c.key), c.entry), c.value) << c.key << " " << c.entry;
  }
  // 16-bit fields are little-endian at odd offsets too.
  b.fill(0);
  SetDsp(b, Field(DspSection::kTx, "pre"), 9, 0x1234);
  EXPECT_EQ(b[141], 0x34);
  EXPECT_EQ(b[142], 0x12);

  // The row maps: TX row "5" is block lane 1, RX row "1" is lane 7.
  EXPECT_EQ(DspRowName(DspSection::kTx, 0), "Line TX row 5");
  EXPECT_EQ(DspRowName(DspSection::kTx, 7), "Line TX row 4");
  EXPECT_EQ(DspRowName(DspSection::kTx, 8), "Line TX first (Monclk) row");
  EXPECT_EQ(DspRowName(DspSection::kRx, 6), "Line RX row 1");
  EXPECT_EQ(DspRowName(DspSection::kRx, 1), "Line RX row 8");
  EXPECT_EQ(DspListFor(Field(DspSection::kRx, "dsp_mode"), 3).size(), 17u);  // row "3"
  EXPECT_EQ(DspListFor(Field(DspSection::kRx, "dsp_mode"), 0).size(), 16u);
}

TEST(DspWrite, KeepsEveryBitItDoesNotOwn) {
  DspPageModel page;
  page.Block() = Patterned();
  const DspBlock read = page.Block();
  auto values = page.Values();
  // One check box changes: TX row "1" (block lane 2) "Invert".
  const auto& controls = DspControls();
  size_t invert = 0;
  for (size_t i = 0; i < controls.size(); ++i)
    if (std::string(controls[i].field->key) == "invert" &&
        controls[i].field->section == DspSection::kTx && controls[i].entry == 1)
      invert = i;
  values[invert].checked = !values[invert].checked;
  ASSERT_FALSE(page.PrepareWrite(values, 1).has_value());
  const DspBlock& written = page.Block();
  for (int i = 0; i < kDspBlockSize; ++i) {
    if (i == 42)
      EXPECT_EQ(written[i], read[i] ^ 0x20) << i;
    else if (i == kDspWriteMarker)
      EXPECT_EQ(written[i], 1);
    else if (i == kDspRateCode)
      EXPECT_EQ(written[i], 5);
    else
      EXPECT_EQ(written[i], read[i]) << "byte " << i;  // kept bits, bytes 165-192
  }
  EXPECT_EQ(page.ResendFlag(), 1);

  // Before any read the kept bits go out as zeros.
  DspPageModel fresh;
  ASSERT_FALSE(fresh.PrepareWrite(fresh.Values(), 0).has_value());
  EXPECT_EQ(fresh.Block()[180], 0);
  EXPECT_EQ(fresh.Block()[kDspRateCode], 4);
}

TEST(DspWrite, BadSixteenBitFieldNamesItAndChangesNothing) {
  const std::pair<const char*, bool> texts[] = {{"0", true},   {"65535", true}, {"65536", false},
                                                {"-1", false}, {"12a", false},  {"", false},
                                                {" 7", false}, {"0x10", false}};
  const auto& controls = DspControls();
  size_t pre = 0;
  for (size_t i = 0; i < controls.size(); ++i)
    if (std::string(controls[i].field->key) == "pre" && controls[i].entry == 0) pre = i;
  for (const auto& [text, ok] : texts) {
    DspPageModel page;
    page.Block() = Patterned();
    auto values = page.Values();
    values[pre].text = text;
    const auto error = page.PrepareWrite(values, 0);
    EXPECT_EQ(!error.has_value(), ok) << text;
    if (!ok) {
      EXPECT_EQ(error->rfind("Line TX row 5 Pre: ", 0), 0u) << *error;
      EXPECT_EQ(page.Block(), Patterned());
      EXPECT_EQ(page.ResendFlag(), 0);
    }
  }
}

TEST(DspWrite, ListWithoutSelectionKeepsTheValueRead) {
  DspPageModel page;
  page.Block()[1] = 20;  // a receive DSP mode beyond the list
  auto values = page.Values();
  ASSERT_FALSE(page.PrepareWrite(values, 0).has_value());
  EXPECT_EQ(page.Block()[1], 20);
}

TEST(DspModeReports, RateCodeRules) {
  struct Case {
    int signalling, rate, stored, code;
  } cases[] = {
      {0, 0, 0, 4}, {0, 1, 0, 5},  {0, -1, 0, 5}, {1, 0, 5, 4},
      {1, 1, 4, 5}, {1, -1, 3, 3}, {-1, 0, 2, 2},
  };
  for (const auto& c : cases) {
    DspPageModel page;
    page.Block()[kDspRateCode] = static_cast<uint8_t>(c.stored);
    const ModeReport m = page.ReportFromSelections(8, c.rate, c.signalling);
    EXPECT_EQ(m.rate_code, c.code) << c.signalling << "/" << c.rate;
    EXPECT_EQ(page.Block()[kDspRateCode], c.code);
    EXPECT_EQ(m.Word(), static_cast<uint16_t>(static_cast<uint8_t>(c.signalling) << 8 | 8));
  }
  // Periodic: stored 0 and 1 become 4 and 5; other codes stay.
  for (auto [stored, code] : {std::pair{0, 4}, {1, 5}, {4, 4}, {5, 5}, {3, 3}}) {
    DspPageModel page;
    page.Block()[kDspRateCode] = static_cast<uint8_t>(stored);
    page.Block()[0] = 1;
    const ModeReport m = page.PeriodicReport();
    EXPECT_EQ(m.rate_code, code);
    EXPECT_EQ(m.signalling, 1);
    EXPECT_EQ(m.pattern, 8);
  }
  // The resend flag rides on one report, then drops.
  DspPageModel page;
  page.SetResendFlag(1);
  EXPECT_EQ(page.PeriodicReport().resend, 1);
  EXPECT_EQ(page.PeriodicReport().resend, 0);
}

TEST(DspBoard, ReadWriteSaveAndPowerThroughTheBoard) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  ASSERT_TRUE(device.OpenBoard(0));
  int waited = 0;
  device.SetPause([&](int ms) { waited += ms; });
  DspBlock block{};
  ASSERT_TRUE(ReadDspBlock(device, block));
  EXPECT_EQ(block, board->Dsp().Current());
  block[57] = 9;
  ASSERT_TRUE(WriteDspBlock(device, block));
  EXPECT_EQ(board->Dsp().Current()[57], 9);
  waited = 0;
  EXPECT_TRUE(SaveDsp(device));
  EXPECT_EQ(board->Dsp().Saved()[57], 9);
  EXPECT_EQ(waited, 20 + kDspSaveWaitMs);
  EXPECT_EQ(SaveMessage(true, ""), "Save successfully!");

  BoardResult ok;
  PowerReading p = ReadPower(device, &ok);
  EXPECT_TRUE(ok);
  EXPECT_NEAR(p.volts, 3.31, 1e-6);
  EXPECT_NEAR(p.amps, 3.9 / 1.4355, 1e-5);
  EXPECT_NEAR(p.watts, p.volts * p.amps, 1e-5);

  board->SetPlugged(false);
  const BoardResult saved = SaveDsp(device);
  EXPECT_EQ(saved.status, BoardStatus::kTransferError);
  EXPECT_NE(SaveMessage(false, saved.Text()), "Save successfully!");
  p = ReadPower(device, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(p.watts, 0);
}

// An answer that fails the header test fails the read at its report, and the
// caller's block is not half updated (a later write would send stale bytes).
TEST(DspBoard, HeaderFailureFailsTheReadAndKeepsTheBlock) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  ASSERT_TRUE(device.OpenBoard(0));
  int pauses = 0;
  device.SetPause([&](int) {
    if (++pauses == 2) board->CorruptNextHeader(1);  // the third request's answer
  });
  DspBlock block;
  block.fill(0xEE);
  const BoardResult r = ReadDspBlock(device, block);
  EXPECT_EQ(r.status, BoardStatus::kHeaderFailed);
  EXPECT_EQ(r.Text(), "the board's answer failed the header test (command 0x11, report 3 of 4)");
  DspBlock untouched;
  untouched.fill(0xEE);
  EXPECT_EQ(block, untouched);
}

TEST(DspJson, RoundTripsAndRefusesWhatItDoesNotKnow) {
  // Every field, onto a block of zeros.
  DspBlock source = Patterned();
  for (const auto& c : DspControls())
    if (GetDsp(source, *c.field, c.entry) > DspMaxValue(*c.field, c.entry))
      SetDsp(source, *c.field, c.entry, 1);
  source[kDspRateCode] = 5;
  DspBlock target{};
  std::string error;
  ASSERT_TRUE(ApplyDspJson(DspToJson(source), &target, &error)) << error;
  for (const auto& c : DspControls())
    EXPECT_EQ(GetDsp(target, *c.field, c.entry), GetDsp(source, *c.field, c.entry))
        << DspControlName(c);
  EXPECT_EQ(target[kDspRateCode], 5);
  // Values beyond a list print as numbers and go back unchanged onto the
  // block they came from; as new values they are refused.
  DspBlock same = Patterned();
  ASSERT_TRUE(ApplyDspJson(DspToJson(Patterned()), &same, &error)) << error;
  same[kDspWriteMarker] = Patterned()[kDspWriteMarker];
  EXPECT_EQ(same, Patterned());
  DspBlock zero{};
  EXPECT_FALSE(ApplyDspJson(DspToJson(Patterned()), &zero, &error));

  const std::pair<const char*, const char*> bad[] = {
      {R"({"tx": {"lane3": {"pre": 65536}}})", "tx.lane3.pre: 65536 is out of range"},
      {R"({"tx": {"lane3": {"pree": 1}}})", "tx.lane3.pree: unknown field"},
      {R"({"rx": {"monclk1": {}}})", "rx.monclk1: unknown row"},
      {R"({"tx": {"lane1": {"row": "1"}}})", "tx.lane1.row"},
      {R"({"rx": {"lane2": {"dsp_mode": "Res"}}})", "names several entries"},
      {R"({"rx": {"lane2": {"dfe": "yes"}}})", "rx.lane2.dfe: a string"},
      {R"({"op_mode": 9})", "op_mode: 9 is out of range (0-8)"},
      {R"({"rate": "10G"})", "rate:"},
      {R"({"colour": 1})", "colour: unknown field"},
      {R"({"tx": )", "line 1"},
  };
  for (const auto& [text, message] : bad) {
    DspBlock b = Patterned();
    EXPECT_FALSE(ApplyDspJson(text, &b, &error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << error;
    EXPECT_EQ(b, Patterned());
  }
  DspBlock b{};
  ASSERT_TRUE(ApplyDspJson(R"({"tx": {"monclk2": {"swing": "120p", "precoder": true}},
                               "rx": {"lane4": {"dsp_mode": 16, "afe_trim": "NEG_7dB"}}})",
                           &b, &error))
      << error;
  EXPECT_EQ(b[160], 6);
  EXPECT_EQ(b[138], 0x80);
  EXPECT_EQ(b[4], 16);  // the blank 17th entry of row "3"
  EXPECT_EQ(b[12], 8);
  EXPECT_EQ(b[kDspWriteMarker], 1);
}

// The reader takes JSON as the standard writes it, nothing looser, and
// says where a file goes wrong.
TEST(DspJson, ReadsStrictJson) {
  const std::pair<std::string, const char*> refused[] = {
      {R"({"tx": {"lane3": {"pre": 01}}})", "line 1, column 27"},
      {R"({"tx": {"lane3": {"pre": 4}}} x)", "line 1, column 31"},
      {"{\"rate\": 4}\n{}", "line 2"},
      {R"({"op_mode": "\uZZZZ"})", "must be followed by 4 hex digits"},
      {R"({"op_mode": "\ud800"})", "surrogate"},
      {"{\"op_mode\": \"\xFF\"}", "UTF-8"},
      {R"({"rate": 4,})", "line 1"},
      {R"({"tx": {"lane3": {"pre": 4, "main": 5, "pre": 6}}})", "tx.lane3.pre: given twice"},
      {R"({"rate": 4, "rate": 5})", "rate: given twice"},
      {R"({"tx": {"lane3": {"pre": 4.5}}})", "tx.lane3.pre: 4.5 is out of range"},
      {R"({"tx": {"lane3": {"pre": -1}}})", "tx.lane3.pre: -1 is out of range"},
      {R"({"tx": {"lane3": {"pre": 1e400}}})", "number overflow"},
      {"", "line 1"},
      {"[]", "the file holds an array"},
  };
  for (const auto& [text, message] : refused) {
    DspEdit edit;
    std::string error;
    EXPECT_FALSE(ParseDspJson(text, &edit, &error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << text << "\n" << error;
  }
  // A surrogate pair is one character, and the message shows it as such.
  DspEdit edit;
  std::string error;
  EXPECT_FALSE(ParseDspJson(R"({"op_mode": "\ud83d\ude00"})", &edit, &error));
  EXPECT_EQ(error, "op_mode: \"\xF0\x9F\x98\x80\" is not an entry of the list");
  // Whole numbers in any JSON spelling.
  ASSERT_TRUE(
      ParseDspJson(R"({"tx": {"lane3": {"pre": 4.0, "main": 1e2, "post": 0}}})", &edit, &error))
      << error;
  ASSERT_EQ(edit.size(), 3u);
  EXPECT_EQ(edit[0].path, "tx.lane3.pre");
  EXPECT_EQ(edit[0].value, 4u);
  EXPECT_EQ(edit[1].value, 100u);
}

TEST(DspJson, DifferencesNameTheFieldsAsTheFileDoes) {
  const DspBlock a = Patterned();
  DspBlock b = a;
  EXPECT_TRUE(DspDifferences(a, b).empty());
  b[61] ^= 1;    // TX block lane 3 pre
  b[0] ^= 0x04;  // op_mode
  b[164] ^= 1;   // rate code
  b[170] ^= 1;   // firmware bytes: no field
  b[kDspWriteMarker] ^= 1;
  EXPECT_EQ(DspDifferences(a, b), (std::vector<std::string>{"op_mode", "rate", "tx.lane3.pre"}));
}

}  // namespace
