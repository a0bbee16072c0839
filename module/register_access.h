// Module register access: every read and write of the module's management
// memory is one ReadModule or WriteModule call of the board object (channel
// 1), named by a register address 0xDDPPRR (device, page, register; bits
// 31-24 ignored). Multi-byte values travel most significant byte first
// unless `lsb_first` is set. Reads clear their output first, so a failed
// read leaves zeros behind. A verified write reads the bytes back and
// compares them. Every operation returns the board call's result; a read
// that fails leaves its output zero.
#pragma once

#include <cstdint>

#include "board/board_result.h"

class CDevice;

struct SplitRegister {
  uint8_t device, page, reg;
};
constexpr SplitRegister SplitAddress(uint32_t address) {
  return {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
          static_cast<uint8_t>(address)};
}

class CRegisterAccess {
 public:
  // The channel byte of every module register command.
  static constexpr uint8_t kChannel = 1;
  // A verified block write reads back into 128 bytes at most.
  static constexpr int kMaxVerifiedBlock = 128;

  explicit CRegisterAccess(CDevice* board) : board_(board) {}
  CDevice* Board() const { return board_; }

  // By device, page and register.
  BoardResult ReadByte(uint8_t device, uint8_t page, uint8_t reg, uint8_t* value);
  BoardResult WriteByte(uint8_t device, uint8_t page, uint8_t reg, uint8_t value, bool verify);
  BoardResult ReadWord(uint8_t device, uint8_t page, uint8_t reg, uint16_t* value, bool lsb_first);
  BoardResult WriteWord(uint8_t device, uint8_t page, uint8_t reg, uint16_t value, bool lsb_first,
                        bool verify);
  BoardResult ReadDword(uint8_t device, uint8_t page, uint8_t reg, uint32_t* value, bool lsb_first);
  BoardResult WriteDword(uint8_t device, uint8_t page, uint8_t reg, uint32_t value, bool lsb_first,
                         bool verify);
  // Zero-fills `length` bytes of `buffer`, then reads them.
  BoardResult ReadBlock(uint8_t device, uint8_t page, uint8_t reg, uint8_t length, uint8_t* buffer);
  // With `verify`, at most 128 bytes (a longer verified write writes nothing
  // and returns false); the read-back compares like text, ending early where
  // both sides hold a zero byte.
  BoardResult WriteBlock(uint8_t device, uint8_t page, uint8_t reg, uint8_t length,
                         const uint8_t* data, bool verify);

  // By register address.
  BoardResult ReadByteAt(uint32_t address, uint8_t* value);
  BoardResult WriteByteAt(uint32_t address, uint8_t value, bool verify = false);
  BoardResult ReadWordAt(uint32_t address, uint16_t* value, bool lsb_first = false);
  BoardResult WriteWordAt(uint32_t address, uint16_t value, bool lsb_first = false,
                          bool verify = false);
  BoardResult ReadDwordAt(uint32_t address, uint32_t* value, bool lsb_first = false);
  BoardResult WriteDwordAt(uint32_t address, uint32_t value, bool lsb_first = false,
                           bool verify = false);
  // The float's 32 IEEE-754 bits, written as a dword.
  BoardResult WriteFloatAt(uint32_t address, float value, bool lsb_first = false,
                           bool verify = false);
  BoardResult ReadBlockAt(uint32_t address, uint8_t length, uint8_t* buffer);
  BoardResult WriteBlockAt(uint32_t address, uint8_t length, const uint8_t* data,
                           bool verify = false);

 private:
  BoardResult Read(uint8_t device, uint8_t page, uint8_t reg, uint8_t* buffer, uint8_t length);
  BoardResult Write(uint8_t device, uint8_t page, uint8_t reg, const uint8_t* data, uint8_t length);
  BoardResult ReadNumber(uint8_t device, uint8_t page, uint8_t reg, int size, bool lsb_first,
                         uint32_t* value);
  BoardResult WriteNumber(uint8_t device, uint8_t page, uint8_t reg, int size, uint32_t value,
                          bool lsb_first, bool verify);

  CDevice* board_;
};
