#include "platform/linux/NvmlSession.h"

#include <utility>

NvmlSession::NvmlSession(std::string libraryPath) : library_(std::move(libraryPath)) {}

NvmlSession::~NvmlSession() {
  if (!ready_) return;
  ready_->shutdown();
  library_.close();
}

const NvmlApi* NvmlSession::api() {
  if (ready_) return ready_;
  if (lastFailure_ && std::chrono::steady_clock::now() - *lastFailure_ < kRetryInterval) return nullptr;
  ready_ = openAndInit();
  if (!ready_) lastFailure_ = std::chrono::steady_clock::now();
  return ready_;
}

const NvmlApi* NvmlSession::openAndInit() {
  const NvmlApi* api = library_.open();
  if (!api) return nullptr;
  if (api->init() == kNvmlSuccess) return api;
  library_.close();
  return nullptr;
}
