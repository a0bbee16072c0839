// Register access primitives against the emulated module's memory: address
// split, byte orders, cleared outputs on failure, and verified writes.
#include <cstring>

#include "module/register_access.h"
#include "tests/module_test_support.h"

namespace {

using namespace module_test;

TEST(RegisterAddress, SplitsDevicePageAndRegisterIgnoringTheTopByte) {
  const struct {
    uint32_t address;
    uint8_t device, page, reg;
  } cases[] = {
      {0xA01087, 0xA0, 0x10, 0x87},
      {0xFFA01087, 0xA0, 0x10, 0x87},
      {0xA0001A, 0xA0, 0x00, 0x1A},
      {0xA0119A, 0xA0, 0x11, 0x9A},
  };
  for (const auto& c : cases) {
    const auto s = SplitAddress(c.address);
    EXPECT_EQ(s.device, c.device) << std::hex << c.address;
    EXPECT_EQ(s.page, c.page) << std::hex << c.address;
    EXPECT_EQ(s.reg, c.reg) << std::hex << c.address;
  }
}

using RegisterAccess = ModuleFixture;

TEST_F(RegisterAccess, ReadsAssembleBytesInTheRequestedOrder) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78};
  for (int i = 0; i < 4; ++i) Poke(0xB1, static_cast<uint8_t>(0x90 + i), bytes[i]);
  uint16_t word = 0;
  uint32_t dword = 0;
  ASSERT_TRUE(module.ReadWordAt(0xA0B190, &word, false));
  EXPECT_EQ(word, 0x1234);
  ASSERT_TRUE(module.ReadWordAt(0xA0B190, &word, true));
  EXPECT_EQ(word, 0x3412);
  ASSERT_TRUE(module.ReadDwordAt(0xA0B190, &dword, false));
  EXPECT_EQ(dword, 0x12345678u);
  ASSERT_TRUE(module.ReadDwordAt(0xA0B190, &dword, true));
  EXPECT_EQ(dword, 0x78563412u);
  EXPECT_EQ(Exchanges(), (std::vector<Exchange>{Read(0xB1, 0x90, 2), Read(0xB1, 0x90, 2),
                                                Read(0xB1, 0x90, 4), Read(0xB1, 0x90, 4)}));
}

TEST_F(RegisterAccess, WritesSendBytesInTheRequestedOrder) {
  const struct {
    const char* name;
    std::function<bool(CSfpBase&)> write;
    std::vector<uint8_t> wire;
  } cases[] = {
      {"word msb first", [](CSfpBase& m) { return m.WriteWordAt(0xA0B1A0, 0x1234); }, {0x12, 0x34}},
      {"word lsb first",
       [](CSfpBase& m) { return m.WriteWordAt(0xA0B1A0, 0x1234, true); },
       {0x34, 0x12}},
      {"dword msb first",
       [](CSfpBase& m) { return m.WriteDwordAt(0xA0B1A0, 0x12345678); },
       {0x12, 0x34, 0x56, 0x78}},
      {"dword lsb first",
       [](CSfpBase& m) { return m.WriteDwordAt(0xA0B1A0, 0x12345678, true); },
       {0x78, 0x56, 0x34, 0x12}},
      {"float lsb first",
       [](CSfpBase& m) { return m.WriteFloatAt(0xA0B1A0, 1.0f, true); },
       {0x00, 0x00, 0x80, 0x3F}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.write(module)) << c.name;
    const auto sent = Exchanges();
    ASSERT_EQ(sent.size(), 1u) << c.name;
    EXPECT_EQ(sent[0], Write(0xB1, 0xA0, static_cast<uint8_t>(c.wire.size()))) << c.name;
    EXPECT_EQ(sent[0].data, c.wire) << c.name;
    for (size_t i = 0; i < c.wire.size(); ++i)
      EXPECT_EQ(Peek(0xB1, static_cast<uint8_t>(0xA0 + i)), c.wire[i]) << c.name;
  }
}

TEST_F(RegisterAccess, AFailedReadLeavesZerosBehind) {
  for (int i = 0; i < 8; ++i) Poke(0xB1, static_cast<uint8_t>(0x90 + i), 0x5A);
  uint8_t byte = 0xEE;
  uint16_t word = 0xEEEE;
  uint32_t dword = 0xEEEEEEEE;
  uint8_t block[8];
  std::memset(block, 0xEE, sizeof block);
  board->DropAnswers(4);
  EXPECT_FALSE(module.ReadByteAt(0xA0B190, &byte));
  EXPECT_FALSE(module.ReadWordAt(0xA0B190, &word));
  EXPECT_FALSE(module.ReadDwordAt(0xA0B190, &dword));
  EXPECT_FALSE(module.ReadBlockAt(0xA0B190, 8, block));
  EXPECT_EQ(byte, 0);
  EXPECT_EQ(word, 0);
  EXPECT_EQ(dword, 0u);
  EXPECT_EQ(std::vector<uint8_t>(block, block + 8), std::vector<uint8_t>(8, 0));
}

TEST_F(RegisterAccess, VerifiedWritesCompareTheReadBack) {
  // Lower 0x0C is a read-only status byte and page 11h a read-only page: the
  // module takes the write and keeps its own value.
  EXPECT_TRUE(module.WriteByteAt(0xA0B1A0, 0x55, true));
  EXPECT_FALSE(module.WriteByteAt(0xA0000C, 0x55, true));
  EXPECT_EQ(Exchanges(), (std::vector<Exchange>{Write(0xB1, 0xA0, 1), Read(0xB1, 0xA0, 1),
                                                Write(0x00, 0x0C, 1), Read(0x00, 0x0C, 1)}));
  EXPECT_FALSE(module.WriteWordAt(0xA01199, 0x0102, false, true));
  EXPECT_TRUE(module.WriteDwordAt(0xA0B1A0, 0x01020304, true, true));

  // Blocks compare like text: the comparison ends where both hold a zero.
  const uint8_t ends_early[] = {0x00, 0x05};
  const uint8_t differs[] = {0x05, 0x00};
  EXPECT_TRUE(module.WriteBlockAt(0xA01199, 2, ends_early, true));
  EXPECT_FALSE(module.WriteBlockAt(0xA01199, 2, differs, true));

  // A verified block reads back into 128 bytes at most: longer ones are refused
  // before anything is written; unverified ones take any length.
  std::vector<uint8_t> big(200, 0x00);
  Exchanges();
  EXPECT_FALSE(module.WriteBlockAt(0xA0B080, 129, big.data(), true));
  EXPECT_TRUE(Exchanges().empty());
  EXPECT_TRUE(module.WriteBlockAt(0xA0B080, 200, big.data(), false));
  EXPECT_EQ(Exchanges().size(), 7u);  // 6 x 32 + 8
}

}  // namespace
