// The emulated board's side of the EEPROM load mode, driven byte by byte.
#include <gtest/gtest.h>

#include <vector>

#include "emulator/mailbox_model.h"

namespace {

TEST(MailboxModel, LoadModeHandshakeStoresAndServesBlocks) {
  emu::MailboxModel m;
  auto write = [&](uint8_t address, std::vector<uint8_t> data) {
    m.Write(address, data.data(), static_cast<int>(data.size()));
  };
  auto handshake = [&] {
    uint8_t v = 0;
    m.Read(5, &v, 1);
    return v;
  };
  // Outside the load mode a block command is never answered.
  write(6, {2, 0x00, 0x00, 0x00, 0x11, 0x22});
  write(5, {0xAA});
  EXPECT_NE(handshake(), 0xA0);
  EXPECT_EQ(m.BlocksStored(), 0);

  write(5, {0xA0});
  EXPECT_EQ(handshake(), 0xA0);
  EXPECT_TRUE(m.InLoadMode());
  write(6, {2, 0x03, 0xFF, 0xFE, 0x11, 0x22});  // the last two bytes of 256 KiB
  write(5, {0xAA});
  EXPECT_EQ(handshake(), 0xA0);
  EXPECT_EQ(m.Eeprom()[0x3FFFE], 0x11);
  EXPECT_EQ(m.Eeprom()[0x3FFFF], 0x22);
  write(6, {2, 0x03, 0xFF, 0xFF, 0x33, 0x44});  // would pass the end: refused
  write(5, {0xAA});
  EXPECT_NE(handshake(), 0xA0);
  EXPECT_EQ(m.BlocksStored(), 1);
  write(5, {0xFF});
  EXPECT_FALSE(m.InLoadMode());
  EXPECT_EQ(m.Aborts(), 1);

  // Ready after two busy polls; reading a block back puts it at mailbox 10.
  m.SetReadyAfterPolls(2);
  write(5, {0xA0});
  EXPECT_EQ(handshake(), emu::MailboxModel::kBusy);
  write(6, {2});  // the host must wait for ready before filling the block area
  EXPECT_EQ(m.Violations(), 1);
  EXPECT_EQ(handshake(), emu::MailboxModel::kBusy);
  EXPECT_EQ(handshake(), 0xA0);
  write(6, {2, 0x03, 0xFF, 0xFE});
  write(5, {0xA5});
  handshake();
  handshake();
  EXPECT_EQ(handshake(), 0xA0);
  uint8_t data[2] = {};
  m.Read(10, data, 2);
  EXPECT_EQ(data[0], 0x11);
  EXPECT_EQ(data[1], 0x22);
  EXPECT_EQ(m.BlocksServed(), 1);
  write(5, {0x00});
  EXPECT_FALSE(m.InLoadMode());
  write(0x85, {0xFF});
  EXPECT_EQ(m.EndAborts(), 1);
  EXPECT_EQ(m.Violations(), 1);
}

}  // namespace
