// Several emulated boards behind one HID backend, as several USB boards are
// behind hidapi: each enumerated under a path of its own, each with its own
// module (serial numbers ending in -1, -2 ...), its own lock and its own
// answer timing, so exchanges with different boards never wait for each
// other.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board/hid_backend.h"
#include "emulator/emulated_board.h"

namespace emu {

class EmulatedRack final : public HidBackend {
 public:
  static constexpr int kMaxBoards = 64;

  // `count` boards (1 to kMaxBoards), enumerated as emulated:board0,
  // emulated:board1 ... in that order. `first`, when given, stands as board 0
  // (its path should be emulated:board0). With more than one board, board i's
  // module gets its serial number suffixed with -(i+1).
  explicit EmulatedRack(int count, std::shared_ptr<EmulatedBoard> first = nullptr);

  int Count() const { return static_cast<int>(boards_.size()); }
  const std::shared_ptr<EmulatedBoard>& Board(int index) const { return boards_.at(index); }
  const std::vector<std::shared_ptr<EmulatedBoard>>& Boards() const { return boards_; }
  // Gives each module the serial it has now with the suffix -(i+1), cut so
  // that the whole fits the 16 characters of the field (after a module dump
  // was loaded into every board). Does nothing for a single board.
  void NumberModules();

  // HidBackend: the boards' devices in board order; Open goes to the board
  // whose path it names.
  std::vector<HidDeviceInfo> Enumerate() override;
  std::unique_ptr<HidConnection> Open(const std::string& path) override;
  std::string Name() const override { return "emulated"; }

  static std::string PathOf(int index) { return "emulated:board" + std::to_string(index); }

 private:
  std::vector<std::shared_ptr<EmulatedBoard>> boards_;
};

}  // namespace emu
