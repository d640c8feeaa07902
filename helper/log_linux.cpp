#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include "LogPlatform.h"

namespace {

// syslog(3) waits whenever the log daemon falls behind, so the helper sends
// its entries itself, on a socket of its own that never waits.
int logSocket() {
  static const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd;
}

sockaddr_un daemonAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  constexpr char kPath[] = "/dev/log";
  std::memcpy(address.sun_path, kPath, sizeof kPath);
  return address;
}

}  // namespace

// The datagram syslog(3) sends for LOG_USER | LOG_NOTICE, ident
// "PelagrinHelper" and LOG_PID. It goes to the path each time, as a restarted
// daemon binds a new socket there.
void systemLogEntry(const char* message) {
  static const sockaddr_un logDaemon = daemonAddress();
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
  char entry[640];
  const int length =
      snprintf(entry, sizeof entry, "<13>%s PelagrinHelper[%d]: %s", stamp, static_cast<int>(getpid()), message);
  if (length < 0) return;
  const size_t size = static_cast<size_t>(length) < sizeof entry ? static_cast<size_t>(length) : sizeof entry - 1;
  sendto(logSocket(), entry, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&logDaemon),
         sizeof logDaemon);
}

const char* logProcessName() { return program_invocation_short_name; }

unsigned long long logThreadId() { return static_cast<unsigned long long>(syscall(SYS_gettid)); }
