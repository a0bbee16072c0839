#include "app/status_line.h"

namespace {
std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}
std::string TrimLeft(const std::string& s) {
  size_t i = s.find_first_not_of(" \t");
  return i == std::string::npos ? std::string() : s.substr(i);
}
}  // namespace

StatusLine::StatusLine(std::function<int()> count_boards)
    : count_boards_(std::move(count_boards)), line_("静态") {}

void StatusLine::SetBoardState(const std::string& text) {
  if (line_.size() <= kStatePart && notice_.empty()) {
    line_ = text;
    return;
  }
  ComposeStatus(TrimRight(text),
                TrimLeft(line_.size() > kStatePart ? line_.substr(kStatePart) : ""));
}

void StatusLine::SetMessage(const std::string& text) {
  ComposeStatus(TrimRight(line_.substr(0, std::min(line_.size(), kStatePart))), text);
}

void StatusLine::SetNotice(const std::string& text) {
  if (text == notice_) return;
  notice_ = text;
  SetMessage("");
}

void StatusLine::ComposeStatus(const std::string& left, const std::string& right) {
  const std::string& shown = notice_.empty() ? right : notice_;
  const std::string message = count_boards_ && count_boards_() > 0 ? shown : std::string();
  line_ = left + std::string(56, ' ') + message;
}

OpenOutcome AfterOpen(const BoardResult& result) {
  if (result.ok()) return {board_state::kConnected, "", false};
  if (result.status == BoardStatus::kBusy)
    return {board_state::kDisconnected, result.Text() + ", waiting ...", true};
  return {board_state::kDisconnected, result.Text(), false};
}
