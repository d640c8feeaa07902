// Preloaded into a helper under test: its listening socket gets a send buffer
// of a few KiB, which every accepted socket inherits, so a client that stops
// reading fills it in seconds. A private network's tcp_wmem would do the
// same, but a test on the machine's own loopback cannot change that.
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" int listen(int fd, int backlog) {
  const int bytes = 4096;
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
  return static_cast<int>(syscall(SYS_listen, fd, backlog));
}
