#include <cstdint>
#include <cstdlib>
#include <os/log.h>
#include <pthread.h>

#include "platform/SystemLog.h"

// The unified log stamps its entries itself.
void systemLogEntry(const char* message, time_t) {
  // Without %{public} the unified log would redact the text as <private>.
  os_log(OS_LOG_DEFAULT, "%{public}s", message);
}

const char* logProcessName() { return getprogname(); }

unsigned long long logThreadId() {
  uint64_t id = 0;
  pthread_threadid_np(nullptr, &id);
  return id;
}
