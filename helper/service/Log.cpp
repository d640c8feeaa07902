#include "Log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/SystemLog.h"

namespace {

struct Entry {
  timeval time;
  unsigned long long threadId;
  char message[256];
};

// One destination of the log: a bounded queue and the thread that empties it.
// Only that thread ever writes there, so a terminal nobody reads or a log
// daemon that stopped reading holds back that thread alone; meanwhile its
// queue fills and later messages are dropped, and counted.
struct Destination {
  void (*write)(const Entry&);
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  bool running = false;
  bool writing = false;
  int first = 0;
  int count = 0;
  int dropped = 0;
  Entry queue[64]{};
};

Entry entryFrom(const char* format, va_list args) {
  Entry entry{};
  gettimeofday(&entry.time, nullptr);
  entry.threadId = logThreadId();
  vsnprintf(entry.message, sizeof entry.message, format, args);
  return entry;
}

Entry entryOf(const char* format, ...) __attribute__((format(printf, 1, 2)));
Entry entryOf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const Entry entry = entryFrom(format, args);
  va_end(args);
  return entry;
}

// Caller holds destination.lock, and the queue has room.
void push(Destination& destination, const Entry& entry) {
  const int capacity = static_cast<int>(std::size(destination.queue));
  destination.queue[(destination.first + destination.count) % capacity] = entry;
  ++destination.count;
  pthread_cond_broadcast(&destination.changed);
}

int clamp(int written, size_t size) {
  if (written < 0) return 0;
  return written < static_cast<int>(size) ? written : static_cast<int>(size) - 1;
}

// "2026-12-06 22:17:35.123 Name[pid:tid] ", as NSLog starts its stderr lines.
int formatPrefix(const Entry& entry, char* out, size_t size) {
  tm local{};
  localtime_r(&entry.time.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return clamp(snprintf(out, size, "%s.%03d %s[%d:%llu] ", stamp, static_cast<int>(entry.time.tv_usec / 1000),
                        logProcessName(), static_cast<int>(getpid()), entry.threadId),
               size);
}

// One line in as few writes as the file takes: a terminal may take part of it.
void writeStderrLine(const Entry& entry) {
  char line[512];
  const int prefix = formatPrefix(entry, line, sizeof line);
  const size_t room = sizeof line - static_cast<size_t>(prefix);
  const int length = prefix + clamp(snprintf(line + prefix, room, "%s\n", entry.message), room);
  line[length - 1] = '\n';  // also where a long message was cut short
  for (int done = 0; done < length;) {
    const ssize_t written = write(STDERR_FILENO, line + done, static_cast<size_t>(length - done));
    if (written < 0 && errno != EINTR) return;  // a line lost here is not worth a second try
    if (written > 0) done += static_cast<int>(written);
  }
}

void writeSystemLogEntry(const Entry& entry) { systemLogEntry(entry.message, entry.time.tv_sec); }

Destination destinations[] = {{.write = writeStderrLine}, {.write = writeSystemLogEntry}};

void* writeQueued(void* argument) {
  Destination& destination = *static_cast<Destination*>(argument);
  pthread_mutex_lock(&destination.lock);
  for (;;) {
    while (destination.count == 0) pthread_cond_wait(&destination.changed, &destination.lock);
    const Entry entry = destination.queue[destination.first];
    destination.first = (destination.first + 1) % static_cast<int>(std::size(destination.queue));
    --destination.count;
    // The entry just taken was queued before anything was lost, and what
    // follows in the queue was too: the count goes where the loss happened.
    if (destination.dropped > 0) {
      push(destination, entryOf("[Helper] Dropped %d messages: the log could not keep up", destination.dropped));
      destination.dropped = 0;
    }
    destination.writing = true;
    pthread_mutex_unlock(&destination.lock);
    destination.write(entry);
    pthread_mutex_lock(&destination.lock);
    destination.writing = false;
    pthread_cond_broadcast(&destination.changed);
  }
}

// The writers need little stack; a small one of their own keeps them
// startable where the default stack would not fit. The time zone is loaded
// here, on the first caller's thread, so that a writer never opens a file
// at some later moment.
void startWriters() {
  tzset();
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  for (Destination& destination : destinations) {
    pthread_t writer;
    destination.running = pthread_create(&writer, &attributes, writeQueued, &destination) == 0;
  }
  pthread_attr_destroy(&attributes);
}

void enqueue(Destination& destination, const Entry& entry) {
  pthread_mutex_lock(&destination.lock);
  if (destination.count < static_cast<int>(std::size(destination.queue))) {
    push(destination, entry);
  } else {
    ++destination.dropped;
  }
  pthread_mutex_unlock(&destination.lock);
}

pthread_once_t writersStarted = PTHREAD_ONCE_INIT;

void logEntry(const Entry& entry) {
  pthread_once(&writersStarted, startWriters);
  for (Destination& destination : destinations) {
    if (destination.running) enqueue(destination, entry);
  }
}

constexpr int kRepeatsPerWindow = 10;

// When a kind of client event was last logged: a ring of its last
// kRepeatsPerWindow times, the oldest next to be replaced.
struct RecentEntries {
  double times[kRepeatsPerWindow]{};
  long long logged = 0;
};

// The client events not logged since their last count, and when the first came.
struct HeldBack {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  double window = 0;
  RecentEntries kinds[3];  // one for each ClientEvent
  int count = 0;
  double since = 0;
} heldBack;

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Caller holds heldBack.lock.
bool takesRoom(RecentEntries& kind, double now) {
  double& oldest = kind.times[kind.logged % kRepeatsPerWindow];
  if (kind.logged >= kRepeatsPerWindow && now - oldest < heldBack.window) return false;
  oldest = now;
  ++kind.logged;
  return true;
}

// Caller holds heldBack.lock.
void logHeldBackOnceDue(double now) {
  if (heldBack.count == 0 || now - heldBack.since < heldBack.window) return;
  logEntry(entryOf("[Helper] Suppressed %d messages in the last %g s", heldBack.count, heldBack.window));
  heldBack.count = 0;
}

}  // namespace

void helperLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const Entry entry = entryFrom(format, args);
  va_end(args);
  logEntry(entry);
}

void limitClientEvents(double windowSeconds) {
  pthread_mutex_lock(&heldBack.lock);
  heldBack.window = windowSeconds;
  pthread_mutex_unlock(&heldBack.lock);
}

void logClientEvent(ClientEvent event, const char* format, ...) {
  pthread_mutex_lock(&heldBack.lock);
  const double now = monotonicSeconds();
  logHeldBackOnceDue(now);
  if (takesRoom(heldBack.kinds[static_cast<int>(event)], now)) {
    va_list args;
    va_start(args, format);
    logEntry(entryFrom(format, args));
    va_end(args);
  } else if (heldBack.count++ == 0) {
    heldBack.since = now;
  }
  pthread_mutex_unlock(&heldBack.lock);
}

void logHeldBackClientEvents() {
  pthread_mutex_lock(&heldBack.lock);
  logHeldBackOnceDue(monotonicSeconds());
  pthread_mutex_unlock(&heldBack.lock);
}

void drainLog(double seconds) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const double end = static_cast<double>(deadline.tv_sec) + static_cast<double>(deadline.tv_nsec) * 1e-9 + seconds;
  deadline.tv_sec = static_cast<time_t>(end);
  deadline.tv_nsec = static_cast<long>((end - static_cast<double>(deadline.tv_sec)) * 1e9);
  for (Destination& destination : destinations) {
    pthread_mutex_lock(&destination.lock);
    int waited = 0;
    while (destination.running && (destination.count > 0 || destination.writing) && waited != ETIMEDOUT) {
      waited = pthread_cond_timedwait(&destination.changed, &destination.lock, &deadline);
    }
    pthread_mutex_unlock(&destination.lock);
  }
}
