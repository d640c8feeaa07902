#include "Log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <sys/syscall.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

namespace {

int formatMessage(char* out, size_t size, const char* format, va_list args) {
  const int n = vsnprintf(out, size, format, args);
  if (n < 0) return 0;
  return n < static_cast<int>(size) ? n : static_cast<int>(size) - 1;
}

// The same prefix NSLog puts on stderr: "2026-12-06 22:17:35.123 Name[pid:tid] ".
int formatPrefix(char* out, size_t size) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const int n =
      snprintf(out, size, "%s.%03d %s[%d:%ld] ", stamp, static_cast<int>(now.tv_usec / 1000),
               program_invocation_short_name, static_cast<int>(getpid()), static_cast<long>(syscall(SYS_gettid)));
  if (n < 0) return 0;
  return n < static_cast<int>(size) ? n : static_cast<int>(size) - 1;
}

}  // namespace

void helperLog(const char* format, ...) {
  static const bool opened = (openlog("PelagrinHelper", LOG_PID, LOG_USER), true);
  (void)opened;

  char message[512];
  va_list args;
  va_start(args, format);
  const int messageLength = formatMessage(message, sizeof message, format, args);
  va_end(args);
  syslog(LOG_NOTICE, "%s", message);

  // One write per line, so lines from the two threads never interleave.
  char line[640];
  int length = formatPrefix(line, sizeof line);
  const int room = static_cast<int>(sizeof line) - length - 1;
  const int copied = messageLength < room ? messageLength : room;
  for (int i = 0; i < copied; ++i) line[length + i] = message[i];
  length += copied;
  line[length++] = '\n';
  while (write(STDERR_FILENO, line, static_cast<size_t>(length)) < 0 && errno == EINTR) {}
}
