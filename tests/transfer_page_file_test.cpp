// Page files into images: grouping, comments, line ends, blanks between
// groups, and the characters that would make the group reader stop early.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "transfer/page_file.h"
#include "transfer/transfer_texts.h"

namespace {

using transfer::ConvertPageText;
using transfer::JoinDataLines;
using transfer::PageFileError;

struct PageCase {
  const char* name;
  std::string contents;
  std::vector<uint8_t> image;  // expected when `error` is empty
  std::string error;           // expected PageFileError::Text()
};

TEST(PageFile, ContentsBecomeImagesOrErrorsNamingLineAndColumn) {
  // clang-format off
  const std::vector<PageCase> cases = {
      {"one group, least significant byte first", "12345678\n", {0x78, 0x56, 0x34, 0x12}, ""},
      {"grouping runs across line ends", "112233445566\n7788\n",
       {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}, ""},
      {"a 10-digit line gives a short second group", "1234567890\n",
       {0x78, 0x56, 0x34, 0x12, 0x90, 0, 0, 0}, ""},
      {"comment lines anywhere add nothing", "/ head\n12345678\n/ 中间 zz\n9abcdef0\n/ end",
       {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A}, ""},
      {"carriage returns of CR LF line ends are dropped", "11223344\r\n55667788\r\n",
       {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}, ""},
      {"empty data lines add nothing", "\n\r\n12345678\n\n", {0x78, 0x56, 0x34, 0x12}, ""},
      {"a 0x prefix and leading blanks are read", "0x1234AB  00C0FF\n",
       {0xAB, 0x34, 0x12, 0x00, 0xFF, 0xC0, 0, 0}, ""},
      {"no final line end", "12345678", {0x78, 0x56, 0x34, 0x12}, ""},
      {"Ctrl-Z ends the text as text mode reads it", "12345678\r\n\x1A" "garbage\n",
       {0x78, 0x56, 0x34, 0x12}, ""},
      {"only comments give no image", "/ nothing here\n", {}, ""},
      {"a blank inside a group", "1234 678\n", {},
       "line 1, column 5: a blank inside a group (blanks may only stand between whole groups)"},
      {"a letter beyond f, after a comment and a full line", "/c\n12345678\n1234567g\n", {},
       "line 3, column 8: 'g' is not a hexadecimal digit"},
      {"a slash inside a data line", "12345678\n1234/678\n", {},
       "line 2, column 5: '/' is not a hexadecimal digit"},
      {"an x that is not a prefix", "00x12345\n", {},
       "line 1, column 3: 'x' is not a hexadecimal digit"},
      {"a sign", "-1234567\n", {}, "line 1, column 1: '-' is not a hexadecimal digit"},
      {"a lone carriage return inside a line", "1234\r5678\n", {},
       "line 1, column 5: a blank inside a group (blanks may only stand between whole groups)"},
      {"columns count characters, not bytes", "中1234567\n", {},
       "line 1, column 1: '中' is not a hexadecimal digit"},
      {"a wide character after a wide one", "/x\n\n12\xC3\xA9" "45678\n", {},
       "line 3, column 3: 'é' is not a hexadecimal digit"},
      {"a byte that is no character", "123\xFF" "5678\n", {},
       "line 1, column 4: byte 0xFF is not a hexadecimal digit"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image{0xEE};
    PageFileError error;
    const bool ok = ConvertPageText(JoinDataLines(c.contents), &image, &error);
    if (c.error.empty()) {
      EXPECT_TRUE(ok) << error.Text();
      EXPECT_EQ(image, c.image);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error.Text(), c.error);
      EXPECT_TRUE(image.empty()) << "no image is built from a bad file";
    }
  }
}

// Fixture pairs: NAME.txt and NAME.expect, which reads "image: 44 33 ..." or
// "error: line L, column C: ...". They also seed the page-file fuzzer.
TEST(PageFile, BlanksSeparateWholeGroupsAndNeverShiftTheData) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(LW_SOURCE_DIR) / "tests" / "fixtures" / "page_files";
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".txt") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string contents((std::istreambuf_iterator<char>(in)), {});
    std::ifstream expect_in(fs::path(entry.path()).replace_extension(".expect"));
    std::string expect;
    std::getline(expect_in, expect);
    std::vector<uint8_t> image;
    PageFileError error;
    const bool ok = ConvertPageText(JoinDataLines(contents), &image, &error);
    std::string got = "error: " + error.Text();
    if (ok) {
      std::ostringstream hex;
      hex << "image:";
      char buf[4];
      for (uint8_t b : image) {
        std::snprintf(buf, sizeof buf, " %02x", b);
        hex << buf;
      }
      got = hex.str();
    }
    EXPECT_EQ(got, expect);
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

TEST(PageFile, AFileWithoutDataSaysWhyInPlainWords) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "the file is empty"},
      {"\x1A"
       "12345678\n",
       "the file is empty"},
      {"/ a comment\n/ another\n", "the file holds only comment lines, no data"},
      {"\n \t\r\n", "the file holds only empty lines, no data"},
      {"/ a comment\n\n", "the file holds only comment lines and empty lines, no data"},
  };
  for (const auto& [contents, words] : cases) {
    const auto text = JoinDataLines(contents);
    EXPECT_TRUE(text.Empty()) << contents;
    EXPECT_EQ(text.NoDataWords(), words) << contents;
  }
}

TEST(PageFile, AFileThatCannotBeOpenedSaysWhyInWords) {
  transfer::PageText text;
  text.text = "stale";
  transfer::OpenError error;
  EXPECT_FALSE(transfer::ReadPageFile("/nonexistent/dir/image.txt", &text, &error));
  EXPECT_TRUE(text.Empty());
  EXPECT_EQ(error.code, ENOENT);
  EXPECT_EQ(transfer::texts::CannotOpen(error.code, error.words),
            "无法打开文件！\n错误" + std::to_string(ENOENT) + ": No such file or directory");
}

TEST(PageFile, AnImageBeyondTheBlockOffsetsIsRefused) {
  // 16 MiB of image is 32 Mi characters; one group more no longer fits 24 bits.
  transfer::PageText text;
  text.text.assign(transfer::kMaxImageSize * 2, '0');
  text.lines.push_back({0, 1});
  std::vector<uint8_t> image;
  PageFileError error;
  ASSERT_TRUE(ConvertPageText(text, &image, &error));
  EXPECT_EQ(image.size(), transfer::kMaxImageSize);
  text.text += "1";
  EXPECT_FALSE(ConvertPageText(text, &image, &error));
  EXPECT_NE(error.what.find("16 MiB"), std::string::npos);
  EXPECT_TRUE(image.empty());
}

}  // namespace
