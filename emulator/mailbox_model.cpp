#include "emulator/mailbox_model.h"

namespace emu {

MailboxModel::MailboxModel() : eeprom_(kEepromSize, 0xFF) {}

void MailboxModel::Write(uint8_t address, const uint8_t* data, int count) {
  for (int i = 0; i < count; ++i) box_[static_cast<uint8_t>(address + i)] = data[i];
}

void MailboxModel::Read(uint8_t address, uint8_t* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = box_[static_cast<uint8_t>(address + i)];
}

}  // namespace emu
