// The board mailbox and the EEPROM it loads (256 KiB).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace emu {

class MailboxModel {
 public:
  static constexpr int kEepromSize = 256 * 1024;
  MailboxModel();

  void Write(uint8_t address, const uint8_t* data, int count);
  void Read(uint8_t address, uint8_t* out, int count);

  const std::array<uint8_t, 256>& Bytes() const { return box_; }
  std::vector<uint8_t>& Eeprom() { return eeprom_; }
  const std::vector<uint8_t>& Eeprom() const { return eeprom_; }

 private:
  std::array<uint8_t, 256> box_{};
  std::vector<uint8_t> eeprom_;
};

}  // namespace emu
