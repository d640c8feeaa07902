#include "platform/linux/NvmlSession.h"

#include <utility>

NvmlSession::NvmlSession(NvmlLibrary& library, Clock clock) : library_(library), clock_(std::move(clock)) {}

NvmlSession::~NvmlSession() {
  if (!ready_) return;
  ready_->shutdown();
  library_.close();
}

const NvmlApi* NvmlSession::api() {
  if (ready_) return ready_;
  if (lastFailure_ && clock_() - *lastFailure_ < kRetryInterval) return nullptr;
  ready_ = openAndInit();
  if (!ready_) lastFailure_ = clock_();
  return ready_;
}

const NvmlApi* NvmlSession::openAndInit() {
  const NvmlApi* api = library_.open();
  if (!api) return nullptr;
  if (api->init() == kNvmlSuccess) return api;
  library_.close();
  return nullptr;
}
