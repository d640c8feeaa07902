#include "Log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include "LogPlatform.h"

namespace {

// Held across the readiness test and the write, so the other thread cannot
// fill what the test found free.
pthread_mutex_t stderrLock = PTHREAD_MUTEX_INITIALIZER;

int clamp(int written, size_t size) {
  if (written < 0) return 0;
  return written < static_cast<int>(size) ? written : static_cast<int>(size) - 1;
}

// "2026-12-06 22:17:35.123 Name[pid:tid] ", as NSLog starts its stderr lines.
int formatPrefix(char* out, size_t size) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return clamp(snprintf(out, size, "%s.%03d %s[%d:%llu] ", stamp, static_cast<int>(now.tv_usec / 1000),
                        logProcessName(), static_cast<int>(getpid()), logThreadId()),
               size);
}

// One write per line, so the two threads' lines never interleave, and only
// when stderr can take it now: a pipe nobody drains or a paused terminal
// loses the line instead of blocking. O_NONBLOCK is no way out, as it would
// change the file description that the parent shares.
void writeStderrLine(const char* message) {
  char line[640];
  const int prefix = formatPrefix(line, sizeof line);
  const size_t room = sizeof line - static_cast<size_t>(prefix);
  const int length = prefix + clamp(snprintf(line + prefix, room, "%s\n", message), room);
  line[length - 1] = '\n';  // also where a long message was cut short
  pollfd stderrReady{.fd = STDERR_FILENO, .events = POLLOUT, .revents = 0};
  pthread_mutex_lock(&stderrLock);
  if (poll(&stderrReady, 1, 0) == 1 && (stderrReady.revents & POLLOUT) != 0) {
    // A line lost here is not worth a second try.
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line, static_cast<size_t>(length));
  }
  pthread_mutex_unlock(&stderrLock);
}

}  // namespace

void helperLog(const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  systemLogEntry(message);
  writeStderrLine(message);
}
