#include "module/register_access.h"

#include <cstring>

#include "board/device.h"

BoardResult CRegisterAccess::Read(uint8_t device, uint8_t page, uint8_t reg, uint8_t* buffer,
                                  uint8_t length) {
  if (!board_) return BoardResult::Fail(BoardStatus::kNotOpen);
  return board_->ReadModule(kChannel, device, page, reg, buffer, length);
}

BoardResult CRegisterAccess::Write(uint8_t device, uint8_t page, uint8_t reg, const uint8_t* data,
                                   uint8_t length) {
  if (!board_) return BoardResult::Fail(BoardStatus::kNotOpen);
  return board_->WriteModule(kChannel, device, page, reg, data, length);
}

BoardResult CRegisterAccess::ReadNumber(uint8_t device, uint8_t page, uint8_t reg, int size,
                                        bool lsb_first, uint32_t* value) {
  *value = 0;
  uint8_t bytes[4] = {};
  if (auto r = Read(device, page, reg, bytes, static_cast<uint8_t>(size)); !r) return r;
  uint32_t v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | bytes[lsb_first ? size - 1 - i : i];
  *value = v;
  return BoardResult::Ok();
}

BoardResult CRegisterAccess::WriteNumber(uint8_t device, uint8_t page, uint8_t reg, int size,
                                         uint32_t value, bool lsb_first, bool verify) {
  uint8_t bytes[4];
  for (int i = 0; i < size; ++i) {
    const int shift = 8 * (lsb_first ? i : size - 1 - i);
    bytes[i] = static_cast<uint8_t>(value >> shift);
  }
  if (auto r = Write(device, page, reg, bytes, static_cast<uint8_t>(size)); !r || !verify) return r;
  uint32_t back = 0;
  if (auto r = ReadNumber(device, page, reg, size, lsb_first, &back); !r) return r;
  const uint32_t mask = size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
  return back == (value & mask) ? BoardResult::Ok() : BoardResult::Fail(BoardStatus::kVerifyFailed);
}

BoardResult CRegisterAccess::ReadByte(uint8_t device, uint8_t page, uint8_t reg, uint8_t* value) {
  uint32_t v = 0;
  const auto r = ReadNumber(device, page, reg, 1, false, &v);
  *value = static_cast<uint8_t>(v);
  return r;
}

BoardResult CRegisterAccess::WriteByte(uint8_t device, uint8_t page, uint8_t reg, uint8_t value,
                                       bool verify) {
  return WriteNumber(device, page, reg, 1, value, false, verify);
}

BoardResult CRegisterAccess::ReadWord(uint8_t device, uint8_t page, uint8_t reg, uint16_t* value,
                                      bool lsb_first) {
  uint32_t v = 0;
  const auto r = ReadNumber(device, page, reg, 2, lsb_first, &v);
  *value = static_cast<uint16_t>(v);
  return r;
}

BoardResult CRegisterAccess::WriteWord(uint8_t device, uint8_t page, uint8_t reg, uint16_t value,
                                       bool lsb_first, bool verify) {
  return WriteNumber(device, page, reg, 2, value, lsb_first, verify);
}

BoardResult CRegisterAccess::ReadDword(uint8_t device, uint8_t page, uint8_t reg, uint32_t* value,
                                       bool lsb_first) {
  return ReadNumber(device, page, reg, 4, lsb_first, value);
}

BoardResult CRegisterAccess::WriteDword(uint8_t device, uint8_t page, uint8_t reg, uint32_t value,
                                        bool lsb_first, bool verify) {
  return WriteNumber(device, page, reg, 4, value, lsb_first, verify);
}

BoardResult CRegisterAccess::ReadBlock(uint8_t device, uint8_t page, uint8_t reg, uint8_t length,
                                       uint8_t* buffer) {
  std::memset(buffer, 0, length);
  return Read(device, page, reg, buffer, length);
}

BoardResult CRegisterAccess::WriteBlock(uint8_t device, uint8_t page, uint8_t reg, uint8_t length,
                                        const uint8_t* data, bool verify) {
  if (verify && length > kMaxVerifiedBlock) return BoardResult::Fail(BoardStatus::kRefused);
  if (auto r = Write(device, page, reg, data, length); !r || !verify) return r;
  uint8_t back[kMaxVerifiedBlock] = {};
  if (auto r = Read(device, page, reg, back, length); !r) return r;
  for (int i = 0; i < length; ++i) {
    if (data[i] != back[i]) return BoardResult::Fail(BoardStatus::kVerifyFailed);
    if (data[i] == 0) break;  // both end here, like a text comparison
  }
  return BoardResult::Ok();
}

BoardResult CRegisterAccess::ReadByteAt(uint32_t address, uint8_t* value) {
  const auto a = SplitAddress(address);
  return ReadByte(a.device, a.page, a.reg, value);
}

BoardResult CRegisterAccess::WriteByteAt(uint32_t address, uint8_t value, bool verify) {
  const auto a = SplitAddress(address);
  return WriteByte(a.device, a.page, a.reg, value, verify);
}

BoardResult CRegisterAccess::ReadWordAt(uint32_t address, uint16_t* value, bool lsb_first) {
  const auto a = SplitAddress(address);
  return ReadWord(a.device, a.page, a.reg, value, lsb_first);
}

BoardResult CRegisterAccess::WriteWordAt(uint32_t address, uint16_t value, bool lsb_first,
                                         bool verify) {
  const auto a = SplitAddress(address);
  return WriteWord(a.device, a.page, a.reg, value, lsb_first, verify);
}

BoardResult CRegisterAccess::ReadDwordAt(uint32_t address, uint32_t* value, bool lsb_first) {
  const auto a = SplitAddress(address);
  return ReadDword(a.device, a.page, a.reg, value, lsb_first);
}

BoardResult CRegisterAccess::WriteDwordAt(uint32_t address, uint32_t value, bool lsb_first,
                                          bool verify) {
  const auto a = SplitAddress(address);
  return WriteDword(a.device, a.page, a.reg, value, lsb_first, verify);
}

BoardResult CRegisterAccess::WriteFloatAt(uint32_t address, float value, bool lsb_first,
                                          bool verify) {
  uint32_t bits;
  static_assert(sizeof bits == sizeof value);
  std::memcpy(&bits, &value, sizeof bits);
  return WriteDwordAt(address, bits, lsb_first, verify);
}

BoardResult CRegisterAccess::ReadBlockAt(uint32_t address, uint8_t length, uint8_t* buffer) {
  const auto a = SplitAddress(address);
  return ReadBlock(a.device, a.page, a.reg, length, buffer);
}

BoardResult CRegisterAccess::WriteBlockAt(uint32_t address, uint8_t length, const uint8_t* data,
                                          bool verify) {
  const auto a = SplitAddress(address);
  return WriteBlock(a.device, a.page, a.reg, length, data, verify);
}
