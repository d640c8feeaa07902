#include "Log.h"

#include <cstdarg>
#include <cstdio>
#include <os/log.h>

void helperLog(const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  // Without %{public} the unified log would redact the text as <private>.
  os_log(OS_LOG_DEFAULT, "%{public}s", message);
}
