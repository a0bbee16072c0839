// Module dumps: what parses writes back the same, and the live module runs on
// whatever memory a dump gives it (odd states, flags, thresholds).
#include <chrono>
#include <cstdint>
#include <string>

#include "emulator/module_model.h"
#include "module/module_dump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ModuleDumpImage image;
  std::string error;
  if (!ParseModuleDump(text, &image, &error)) {
    if (error.rfind("line ", 0) != 0) __builtin_trap();
    return 0;
  }
  const std::string written = FormatModuleDump(image);
  ModuleDumpImage again;
  if (!ParseModuleDump(written, &again, &error) || FormatModuleDump(again) != written)
    __builtin_trap();

  // The live module on that memory, on a clock of its own.
  auto now = emu::ModuleModel::Clock::time_point{};
  emu::ModuleModel module;
  module.SetTimeSource([&now] { return now; });
  module.LoadImage(image);
  uint8_t buffer[128];
  module.Read(0xA0, 0x00, 0x00, buffer, 128);
  const uint8_t release = 0x00, deinit = 0x0F, apply = 0xFF, reset = 0x08;
  module.Write(0xA0, 0x00, 0x1A, &release, 1);
  module.Write(0xA0, 0x10, 0x80, &deinit, 1);
  module.Write(0xA0, 0x10, 0x8F, &apply, 1);
  for (int step = 0; step < 4; ++step) {
    now += std::chrono::milliseconds(350);
    module.Read(0xA0, 0x11, 0x80, buffer, 128);
    module.Read(0xA0, 0x00, 0x00, buffer, 128);
  }
  module.Write(0xA0, 0x00, 0x1A, &reset, 1);
  now += std::chrono::seconds(2);
  module.Read(0xA0, 0x11, 0x80, buffer, 128);
  module.PowerCycle();
  now += std::chrono::seconds(2);
  module.Read(0xA0, 0x00, 0x00, buffer, 128);
  return 0;
}
