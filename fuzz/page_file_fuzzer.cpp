// Page files: any bytes either give an image or an error that names a place
// in the file; an image written back as groups reads back the same.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/page_file.h"

namespace {

std::vector<uint8_t> Convert(std::string_view contents, transfer::PageFileError* error) {
  std::vector<uint8_t> image;
  if (!transfer::ConvertPageText(transfer::JoinDataLines(contents), &image, error)) {
    if (!image.empty()) __builtin_trap();
    image.push_back(0xEE);  // marks a failure (images hold whole groups)
  }
  return image;
}

// The image as a page file: 8-digit groups, `separator` between them.
std::string Write(const std::vector<uint8_t>& image, const char* separator) {
  std::string out = "/ written back\n";
  char group[9];
  for (size_t i = 0; i < image.size(); i += 4) {
    std::snprintf(group, sizeof group, "%02X%02X%02X%02X", image[i + 3], image[i + 2], image[i + 1],
                  image[i]);
    out += group;
    out += (i / 4) % 4 == 3 ? "\n" : separator;
  }
  return out + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  const auto text = transfer::JoinDataLines(contents);
  transfer::PageFileError error;
  const auto image = Convert(contents, &error);
  if (image.size() == 1) {  // refused: at a line and column of the file
    if (error.line < 1 || error.column < 1 || error.what.empty()) __builtin_trap();
    return 0;
  }
  if (image.size() % 4 != 0) __builtin_trap();
  if (text.Empty() && (!image.empty() || text.NoDataWords().empty())) __builtin_trap();
  if (image.empty()) return 0;
  for (const char* separator : {"", " ", "\t"}) {
    transfer::PageFileError again;
    if (Convert(Write(image, separator), &again) != image) __builtin_trap();
  }
  return 0;
}
