// Page files: text files of 8-digit hexadecimal groups with "/" comment lines,
// turned into the byte image that the EEPROM transfer loads.
//
//   / comment lines start with a slash
//   0403020108070605     <- groups of 8 characters, read across line ends
//
// Each group is one 32-bit number (a 0x prefix allowed), stored least
// significant byte first: "04030201" gives 01 02 03 04.
//
// Blanks (spaces, tabs) may separate whole groups: "11223344 55667788" is two
// groups. A blank inside a group is an error, and a line that holds blanks
// must hold whole 8-character groups (a short last group of the file may
// stand after a blank), so that no blank can shift the groups after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace transfer {

// The data lines of a page file joined together, with where each line began,
// so that a position in the text can be named by file line and column.
struct PageText {
  struct Line {
    size_t start;  // offset in `text`
    int number;    // file line, from 1
  };
  std::string text;
  std::vector<Line> lines;
  // What the file held besides data, to say why a file gave no data.
  int comment_lines = 0;
  int empty_lines = 0;  // empty or only blanks

  bool Empty() const { return text.empty(); }
  // Why there is no data, in words: "the file is empty", "the file holds
  // only comment lines" ... (meant for an Empty() text).
  std::string NoDataWords() const;
  // File line and column (in characters, from 1) of text offset `at`.
  void Locate(size_t at, int* line, int* column) const;
};

// Splits file contents into lines as text mode reads them (LF or CR LF ends a
// line, Ctrl-Z ends the file), drops the comment lines and the lines that are
// empty or only blanks, and joins the rest.
PageText JoinDataLines(std::string_view contents);

// Why a page file could not be opened: the platform's code and its words.
struct OpenError {
  int code = 0;
  std::string words;
};

// Reads the file at `path` into `out`; false when it cannot be opened or read.
bool ReadPageFile(const std::string& path, PageText* out, OpenError* error);

// A character that would end a group early, a blank that would shift the
// groups, or an image too large to address.
struct PageFileError {
  int line = 0, column = 0;
  std::string what;
  // "line 3, column 12: 'g' is not a hexadecimal digit"
  std::string Text() const;
};

// Block offsets are 24 bits wide: the image may hold at most 16 MiB.
constexpr size_t kMaxImageSize = size_t{1} << 24;

// Cuts the text into groups of 8 characters (the last may be shorter; blanks
// between whole groups are skipped) and fills `image` with 4 bytes per group.
// On an error `image` is left empty.
bool ConvertPageText(const PageText& text, std::vector<uint8_t>* image, PageFileError* error);

}  // namespace transfer
