#include "ClientTable.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Log.h"

namespace {

pthread_mutex_t clientLock = PTHREAD_MUTEX_INITIALIZER;
int clientCount = 0;
int clientFDs[kMaxClients];

#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE on each socket stands in for MSG_NOSIGNAL
#endif

// A pause after an accept failure that the very next accept would hit again
// (no descriptors, no buffers): retrying at once would spin a core.
constexpr timespec kAcceptBackoff{0, 100 * 1000 * 1000};

bool failureConcernsOneConnection(int error) {
  return error == EINTR || error == ECONNABORTED || error == EPROTO || error == EPERM;
}

// The part of a line already queued would reach the client as its last bytes;
// a close that resets the connection discards it instead.
void discardUnsentOnClose(int fd) {
  const linger reset{.l_onoff = 1, .l_linger = 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

// Caller holds clientLock.
void removeClient(int slot) {
  const int fd = clientFDs[slot];
  close(fd);
  helperLog("[Helper] Client disconnected (fd=%d)", fd);
  for (int j = slot; j < clientCount - 1; ++j) clientFDs[j] = clientFDs[j + 1];
  --clientCount;
}

}  // namespace

void addClient(int fd) {
#if defined(SO_NOSIGPIPE)
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
  // A send must never wait for a client that stopped reading. MSG_DONTWAIT
  // does not ensure that everywhere: xnu waits on a blocking socket whatever
  // the flags say. The socket is the helper's alone, so its own flag is safe.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  pthread_mutex_lock(&clientLock);
  if (clientCount >= kMaxClients) {
    close(fd);
    helperLog("[Helper] Rejected client \u2014 max connections reached");
  } else {
    clientFDs[clientCount] = fd;
    ++clientCount;
    helperLog("[Helper] Client connected (fd=%d, total=%d)", fd, clientCount);
  }
  pthread_mutex_unlock(&clientLock);
}

void* acceptThread(void* listenSocket) {
  const int listenFd = static_cast<int>(reinterpret_cast<std::intptr_t>(listenSocket));
  for (;;) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const int fd = accept(listenFd, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (fd >= 0) {
      addClient(fd);
    } else if (!failureConcernsOneConnection(errno)) {
      nanosleep(&kAcceptBackoff, nullptr);
    }
  }
}

void broadcastLine(const char* bytes, std::size_t size) {
  pthread_mutex_lock(&clientLock);
  // Last slot first: removeClient moves only the slots above, which this walk
  // has already served, so every survivor gets the line exactly once.
  for (int slot = clientCount - 1; slot >= 0; --slot) {
    // A partial send is a failure too, since the rest would corrupt its stream.
    const ssize_t sent = send(clientFDs[slot], bytes, size, kSendFlags);
    if (sent == static_cast<ssize_t>(size)) continue;
    if (sent > 0) discardUnsentOnClose(clientFDs[slot]);
    removeClient(slot);
  }
  pthread_mutex_unlock(&clientLock);
}
