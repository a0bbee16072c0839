// The board mailbox and the EEPROM it loads (256 KiB).
//
// The host drives the EEPROM load mode through the handshake byte at mailbox
// address 5:
//   0xA0  enter the load mode                         -> ready
//   0xAA  store the block described at mailbox 6      -> ready
//   0xA5  put the requested block at mailbox 10       -> ready
//   0x00  leave the load mode
//   0xFF  abort (also at mailbox 0x85: the host gave up waiting for the end)
// Block header at mailbox 6: length n (1-32), then the image offset as 24 bits,
// most significant byte first; a stored block's data follows at mailbox 10.
// "Ready" is 0xA0 at mailbox 5; until then the handshake byte reads kBusy.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace emu {

// Faults of the mailbox firmware, falling due after a number of handled blocks.
enum class MailboxFault {
  kNone,
  kNeverReady,   // the handshake byte never turns 0xA0 again
  kDropAnswers,  // the board drops the next `count` answers (all of them for -1)
  kUnplug,       // the board is unplugged
};

class MailboxModel {
 public:
  static constexpr int kEepromSize = 256 * 1024;
  static constexpr uint8_t kHandshake = 5, kHeader = 6, kData = 10, kEndAbort = 0x85;
  static constexpr uint8_t kReady = 0xA0, kBusy = 0x01;
  static constexpr int kMaxBlock = 32;

  MailboxModel();

  void Write(uint8_t address, const uint8_t* data, int count);
  void Read(uint8_t address, uint8_t* out, int count);

  using Box = std::array<uint8_t, 256>;
  const Box& Bytes() const { return box_; }
  // The mailbox as it stands between two commands: its bytes and the load
  // mode (a restored board).
  void Restore(const Box& box, bool load_mode);
  // A power cycle: the bytes clear, the load mode ends, nothing is pending.
  void PowerCycle() { Restore(Box{}, false); }
  std::vector<uint8_t>& Eeprom() { return eeprom_; }
  const std::vector<uint8_t>& Eeprom() const { return eeprom_; }

  // Polls of the handshake byte that still read busy after each command
  // (0: the first poll after a command sees ready).
  void SetReadyAfterPolls(int polls) { ready_after_polls_ = polls; }
  // Arms `fault` to fall due once `after_blocks` more blocks have been stored
  // or served (0: at the next command). `count` is for kDropAnswers.
  void InjectFault(MailboxFault fault, int after_blocks = 0, int count = -1);
  // A fault the board itself must carry out (dropping answers, unplugging),
  // handed over once when it falls due.
  struct BoardFault {
    MailboxFault fault = MailboxFault::kNone;
    int count = 0;
  };
  BoardFault TakeBoardFault();

  bool InLoadMode() const { return load_mode_; }
  // Host protocol faults seen: a command or block written before ready.
  int Violations() const { return violations_; }
  int Aborts() const { return aborts_; }         // 0xFF at mailbox 5
  int EndAborts() const { return end_aborts_; }  // 0xFF at mailbox 0x85
  int BlocksStored() const { return stored_; }
  int BlocksServed() const { return served_; }

 private:
  void Command(uint8_t value);
  void BecomeReadyLater();
  void CountBlock();

  std::array<uint8_t, 256> box_{};
  std::vector<uint8_t> eeprom_;
  bool load_mode_ = false;
  bool busy_ = false;  // a command is being worked on; ready after the polls
  int polls_left_ = 0;
  int ready_after_polls_ = 0;
  bool never_ready_ = false;

  MailboxFault armed_ = MailboxFault::kNone;
  int armed_after_ = 0, armed_count_ = 0;
  BoardFault due_;

  int violations_ = 0, aborts_ = 0, end_aborts_ = 0, stored_ = 0, served_ = 0;
};

}  // namespace emu
