#include "emulator/mailbox_model.h"

#include <algorithm>

namespace emu {

namespace {
constexpr uint8_t kEnter = 0xA0, kStore = 0xAA, kServe = 0xA5, kLeave = 0x00, kAbort = 0xFF;
}

MailboxModel::MailboxModel() : eeprom_(kEepromSize, 0xFF) {}

void MailboxModel::Restore(const Box& box, bool load_mode) {
  box_ = box;
  load_mode_ = load_mode;
  busy_ = false;
  polls_left_ = 0;
  never_ready_ = false;
}

void MailboxModel::InjectFault(MailboxFault fault, int after_blocks, int count) {
  armed_ = fault;
  armed_after_ = std::max(0, after_blocks);
  armed_count_ = count;
  if (fault == MailboxFault::kNone) {
    never_ready_ = false;
    due_ = {};
  }
}

MailboxModel::BoardFault MailboxModel::TakeBoardFault() {
  BoardFault out = due_;
  due_ = {};
  return out;
}

void MailboxModel::Write(uint8_t address, const uint8_t* data, int count) {
  bool command = false;
  uint8_t value = 0;
  for (int i = 0; i < count; ++i) {
    const auto at = static_cast<uint8_t>(address + i);
    if (at == kHandshake) {
      command = true;
      value = data[i];
      continue;  // the firmware takes the handshake byte as a command
    }
    // The host may fill the block area only while the board is not working.
    if (busy_ && at >= kHeader && at < kData + kMaxBlock) ++violations_;
    box_[at] = data[i];
    if (at == kEndAbort && data[i] == kAbort) ++end_aborts_;
  }
  if (command) Command(value);
}

void MailboxModel::Read(uint8_t address, uint8_t* out, int count) {
  bool polled = false;
  for (int i = 0; i < count; ++i) {
    const auto at = static_cast<uint8_t>(address + i);
    out[i] = box_[at];
    if (at == kHandshake) polled = true;
  }
  if (polled && busy_ && !never_ready_ && --polls_left_ <= 0) {
    busy_ = false;
    box_[kHandshake] = kReady;
  }
}

void MailboxModel::Command(uint8_t value) {
  const bool block = value == kStore || value == kServe;
  if (busy_ && (block || value == kEnter)) ++violations_;
  box_[kHandshake] = value;
  busy_ = false;
  switch (value) {
    case kEnter:
      load_mode_ = true;
      BecomeReadyLater();
      break;
    case kStore:
    case kServe: {
      if (!load_mode_) return;  // not in the load mode: never ready
      const int n = box_[kHeader];
      const int offset = box_[kHeader + 1] << 16 | box_[kHeader + 2] << 8 | box_[kHeader + 3];
      if (n < 1 || n > kMaxBlock || offset + n > kEepromSize) return;  // refused: never ready
      if (value == kStore) {
        std::copy_n(box_.begin() + kData, n, eeprom_.begin() + offset);
        ++stored_;
      } else {
        std::copy_n(eeprom_.begin() + offset, n, box_.begin() + kData);
        ++served_;
      }
      if (armed_ != MailboxFault::kNone && armed_after_ > 0) --armed_after_;
      BecomeReadyLater();
      break;
    }
    case kLeave:
      load_mode_ = false;
      return;
    case kAbort:
      load_mode_ = false;
      ++aborts_;
      return;
    default:
      return;
  }
  if (armed_ != MailboxFault::kNone && armed_after_ == 0) {
    if (armed_ == MailboxFault::kNeverReady) {
      never_ready_ = true;
      busy_ = true;
      box_[kHandshake] = kBusy;
    } else {
      due_ = {armed_, armed_count_};
    }
    armed_ = MailboxFault::kNone;
  }
}

void MailboxModel::BecomeReadyLater() {
  if (!never_ready_ && ready_after_polls_ <= 0) {
    box_[kHandshake] = kReady;
    return;
  }
  busy_ = true;
  polls_left_ = ready_after_polls_;
  box_[kHandshake] = kBusy;
}

}  // namespace emu
