#include "app/app_context.h"

#include "emulator/emulated_board.h"

AppContext::AppContext(std::shared_ptr<HidBackend> backend,
                       std::shared_ptr<emu::EmulatedBoard> emulated)
    : backend_(std::move(backend)),
      emulated_(std::move(emulated)),
      device_(std::make_unique<CDevice>(backend_)) {}

AppContext::~AppContext() { link_.Stop(); }
