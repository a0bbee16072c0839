// Running one function on many boards at once: every board gets a thread
// and a CDevice of its own, so the boards' exchanges (each with its 20 ms
// pauses) run side by side and N boards take about the time of one. Each
// board is opened as CDevice::OpenBoard opens it, with its own one-process
// lock, and closed when its function returns.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/board_result.h"
#include "board/device.h"
#include "board/hid_backend.h"

namespace board {

// One board of the run.
struct BoardSlot {
  int index = 0;     // its place among the matching boards (as --board INDEX)
  std::string path;  // its device path
};

struct EachBoardOptions {
  // While another process holds a board: wait for it (true), or give that
  // board up at once with kBusy (false).
  bool wait = true;
  // Told once per board that has to wait, with the holder's PID (0 unknown).
  // Called from the board's thread.
  std::function<void(const BoardSlot&, long pid)> waiting;
  // Polled while waiting; true gives the board up with kBusy.
  std::function<bool()> cancelled;
  // The pause between a request and its answer (tests); default the real clock.
  PauseFn pause;
};

// How one board's run went.
struct BoardOutcome {
  BoardSlot slot;
  BoardResult opened;        // the function ran only when this is ok
  std::exception_ptr error;  // what the function threw, if it threw
};

// The matching test boards of `backend`, in enumeration order.
std::vector<BoardSlot> ListBoards(const std::shared_ptr<HidBackend>& backend);

// Opens each board of `slots` with a CDevice of its own on a thread of its
// own and runs `run` on it; all boards at once. Returns when every board is
// done, one outcome per slot in the order given. A board that cannot be
// opened (gone, busy, no permission) gets no call; an exception `run`
// throws is kept in its outcome. `run` is called from several threads at
// once: what it shares (an output stream, a results table) needs a lock.
using BoardFn = std::function<void(const BoardSlot& slot, CDevice& device)>;
std::vector<BoardOutcome> RunOnBoards(const std::shared_ptr<HidBackend>& backend,
                                      const std::vector<BoardSlot>& slots, const BoardFn& run,
                                      const EachBoardOptions& options = {});

// The same on every matching board of `backend`.
inline std::vector<BoardOutcome> RunOnEachBoard(const std::shared_ptr<HidBackend>& backend,
                                                const BoardFn& run,
                                                const EachBoardOptions& options = {}) {
  return RunOnBoards(backend, ListBoards(backend), run, options);
}

}  // namespace board
