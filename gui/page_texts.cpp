#include "gui/page_texts.h"

namespace pages {

std::string ControlFailureText(const ControlFamily& family, int lane, const BoardResult& result) {
  // The caption as the page shows it, without a trailing colon ("App
  // Code:"); the list without a caption goes by its name.
  std::string subject = family.caption;
  while (!subject.empty() && (subject.back() == ':' || subject.back() == ' ')) subject.pop_back();
  if (subject.empty()) subject = family.name;
  if (family.PerLane()) subject += " lane " + std::to_string(lane);
  return subject + ": " + result.Text();
}

std::string InfoFailureText(const BoardResult& result) {
  return "INFO: rows not read: " + result.Text();
}

}  // namespace pages
