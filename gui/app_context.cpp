#include "gui/app_context.h"

#include "emulator/emulated_board.h"
#include "module/qsfp_dd.h"

AppContext::AppContext(std::shared_ptr<HidBackend> backend,
                       std::shared_ptr<emu::EmulatedBoard> emulated)
    : backend_(std::move(backend)),
      emulated_(std::move(emulated)),
      device_(std::make_unique<CDevice>(backend_)) {}

AppContext::~AppContext() { link_.Stop(); }

CSfpBase& AppContext::Module() {
  if (!module_) module_ = std::make_unique<qsfp_dd::CQSFP_DD>(device_.get());
  return *module_;
}
