#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/SystemLog.h"

namespace {

const sockaddr_un kDaemon = [] {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  constexpr char kPath[] = "/dev/log";
  std::memcpy(address.sun_path, kPath, sizeof kPath);
  return address;
}();

const sockaddr* daemonAddress() { return reinterpret_cast<const sockaddr*>(&kDaemon); }

// Opened once, as the process starts, so the log thread never takes a
// descriptor number while the service is handing them out.
const int datagramSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);

// Some daemons listen on a stream socket at /dev/log, where a datagram gets
// EPROTOTYPE; syslog(3) then connects a stream socket and ends each entry
// with a NUL. The connection is kept until a send on it fails.
int streamSocket = -1;

void sendOnStream(const char* entry, size_t size) {
  if (streamSocket < 0) {
    streamSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (streamSocket >= 0 && connect(streamSocket, daemonAddress(), sizeof kDaemon) != 0) {
      close(streamSocket);
      streamSocket = -1;
    }
    if (streamSocket < 0) return;
  }
  if (send(streamSocket, entry, size + 1, MSG_NOSIGNAL) != static_cast<ssize_t>(size + 1)) {
    close(streamSocket);  // a restarted daemon may listen for datagrams again
    streamSocket = -1;
  }
}

}  // namespace

// The entry syslog(3) sends for LOG_USER | LOG_NOTICE, ident "PelagrinHelper"
// and LOG_PID. A datagram goes to the path each time, as a restarted daemon
// binds a new socket there. Not syslog(3) itself: it stamps an entry with the
// time it is sent, and a message may wait in the log's queue, so the entry
// would disagree with the same line on stderr, which carries `when`.
void systemLogEntry(const char* message, time_t when) {
  tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
  char entry[512];
  const int length =
      snprintf(entry, sizeof entry, "<13>%s PelagrinHelper[%d]: %s", stamp, static_cast<int>(getpid()), message);
  if (length < 0) return;
  const size_t size = static_cast<size_t>(length) < sizeof entry ? static_cast<size_t>(length) : sizeof entry - 1;
  if (streamSocket < 0) {
    const ssize_t sent = sendto(datagramSocket, entry, size, MSG_NOSIGNAL, daemonAddress(), sizeof kDaemon);
    if (sent >= 0 || errno != EPROTOTYPE) return;
  }
  sendOnStream(entry, size);
}

const char* logProcessName() { return program_invocation_short_name; }

unsigned long long logThreadId() { return static_cast<unsigned long long>(syscall(SYS_gettid)); }
