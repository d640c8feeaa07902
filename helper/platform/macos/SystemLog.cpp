#include <cstdint>
#include <cstdlib>
#include <os/log.h>
#include <pthread.h>

#include "platform/SystemLog.h"

namespace {

// The helper's own subsystem, so that a predicate on it shows the helper's
// entries and no other process's "[Helper] " lines. Made once, kept for the
// life of the process.
os_log_t helperLog() {
  static const os_log_t service = os_log_create("app.pelagrin.helper", "service");
  return service;
}

}  // namespace

// The unified log stamps its entries itself.
void systemLogEntry(const char* message, time_t) {
  // Without %{public} the unified log would redact the text as <private>.
  os_log(helperLog(), "%{public}s", message);
}

const char* logProcessName() { return getprogname(); }

unsigned long long logThreadId() {
  uint64_t id = 0;
  pthread_threadid_np(nullptr, &id);
  return id;
}
