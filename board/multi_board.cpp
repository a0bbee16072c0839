#include "board/multi_board.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "board/hid.h"

namespace board {

std::vector<BoardSlot> ListBoards(const std::shared_ptr<HidBackend>& backend) {
  CHid hid(backend);
  hid.FindDevices();
  std::vector<BoardSlot> slots;
  const auto paths = hid.DevicePaths();
  for (size_t i = 0; i < paths.size(); ++i) slots.push_back({static_cast<int>(i), paths[i]});
  return slots;
}

namespace {

// Opens the board at `slot.path` (found again by its path: the list may have
// changed since), waiting while another process holds it when asked to.
// The boards open one at a time (the enumerations and opens of a HID stack
// are not all safe to run side by side); a wait for a busy board sleeps
// outside the lock, and the runs go side by side.
BoardResult Open(CDevice& device, const BoardSlot& slot, const EachBoardOptions& options,
                 std::mutex& opening) {
  const auto attempt = [&] {
    std::lock_guard lock(opening);
    device.FindDevices();
    const int index = device.Hid().FindDevicePath(slot.path);
    return index < 0 ? BoardResult::Fail(BoardStatus::kOpenFailed) : device.OpenBoard(index);
  };
  BoardResult opened = attempt();
  if (opened.status != BoardStatus::kBusy || !options.wait) return opened;
  if (options.waiting) options.waiting(slot, opened.holder_pid);
  while (opened.status == BoardStatus::kBusy) {
    if (options.cancelled && options.cancelled()) return opened;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    opened = attempt();
  }
  return opened;
}

}  // namespace

std::vector<BoardOutcome> RunOnBoards(const std::shared_ptr<HidBackend>& backend,
                                      const std::vector<BoardSlot>& slots, const BoardFn& run,
                                      const EachBoardOptions& options) {
  std::vector<BoardOutcome> outcomes(slots.size());
  std::vector<std::thread> threads;
  std::mutex opening;
  threads.reserve(slots.size());
  for (size_t i = 0; i < slots.size(); ++i) {
    outcomes[i].slot = slots[i];
    threads.emplace_back([&, i] {
      BoardOutcome& outcome = outcomes[i];
      CDevice device(backend);
      if (options.pause) device.SetPause(options.pause);
      outcome.opened = Open(device, outcome.slot, options, opening);
      if (!outcome.opened) return;
      try {
        run(outcome.slot, device);
      } catch (...) {
        outcome.error = std::current_exception();
      }
    });
  }
  for (auto& t : threads) t.join();
  return outcomes;
}

}  // namespace board
