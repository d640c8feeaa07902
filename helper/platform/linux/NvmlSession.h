#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/linux/NvmlLibrary.h"

// NVML initialised once for the life of the process: init can take seconds,
// far too long to repeat every cycle. A failed attempt (library missing,
// incomplete, or init refused) is retried at most once a minute.
class NvmlSession {
 public:
  static constexpr std::chrono::seconds kRetryInterval{60};

  explicit NvmlSession(std::string libraryPath);
  ~NvmlSession();
  NvmlSession(const NvmlSession&) = delete;
  NvmlSession& operator=(const NvmlSession&) = delete;

  // The initialised table, or none while NVML is unavailable.
  const NvmlApi* api();

 private:
  const NvmlApi* openAndInit();

  NvmlLibrary library_;
  const NvmlApi* ready_ = nullptr;
  std::optional<std::chrono::steady_clock::time_point> lastFailure_;
};
