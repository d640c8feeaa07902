// Preloaded into a helper under test, gives send(2) and its siblings Darwin's
// semantics: there MSG_DONTWAIT does not stop a send on a blocking socket from
// waiting, since xnu looks only at the socket's own non-blocking state.
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {

ssize_t sendto(int fd, const void* bytes, size_t size, int flags, const sockaddr* to, socklen_t toSize) {
  return syscall(SYS_sendto, fd, bytes, size, flags & ~MSG_DONTWAIT, to, toSize);
}

ssize_t send(int fd, const void* bytes, size_t size, int flags) { return sendto(fd, bytes, size, flags, nullptr, 0); }

ssize_t sendmsg(int fd, const msghdr* message, int flags) {
  return syscall(SYS_sendmsg, fd, message, flags & ~MSG_DONTWAIT);
}
}
