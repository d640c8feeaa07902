#include "ClientTable.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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

// A client that stops reading is dropped once its own receive buffer and
// this much of ours are full: about 30 lines, a minute at the shipped cycle.
// The system's default grows to megabytes, hours of lines for a stuck client.
constexpr int kClientSendBuffer = 2048;

// Linux flags a client's closed end even while bytes it sent are unread;
// elsewhere a hang-up or the peek at the end of its stream shows it.
#if defined(POLLRDHUP)
constexpr short kClientEndClosed = POLLRDHUP;
#else
constexpr short kClientEndClosed = 0;
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
  logClientEvent(ClientEvent::Disconnected, "[Helper] Client disconnected (fd=%d)", fd);
  for (int j = slot; j < clientCount - 1; ++j) clientFDs[j] = clientFDs[j + 1];
  --clientCount;
}

// A client whose end is closed or reset reads no more; nothing it sent is
// read to find that out. Caller holds clientLock.
void removeDepartedClients() {
  pollfd watched[kMaxClients];
  for (int slot = 0; slot < clientCount; ++slot) {
    watched[slot] = {.fd = clientFDs[slot], .events = POLLIN | kClientEndClosed, .revents = 0};
  }
  if (poll(watched, static_cast<nfds_t>(clientCount), 0) <= 0) return;
  for (int slot = clientCount - 1; slot >= 0; --slot) {
    const short seen = watched[slot].revents;
    char next;
    if ((seen & (POLLHUP | POLLERR | kClientEndClosed)) ||
        ((seen & POLLIN) && recv(watched[slot].fd, &next, 1, MSG_PEEK) == 0)) {
      removeClient(slot);
    }
  }
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
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kClientSendBuffer, sizeof kClientSendBuffer);
  pthread_mutex_lock(&clientLock);
  // A slot held by a client that has gone would otherwise turn the newcomer
  // away until a send to it fails, which can take two cycles.
  if (clientCount >= kMaxClients) removeDepartedClients();
  if (clientCount >= kMaxClients) {
    close(fd);
    logClientEvent(ClientEvent::Rejected, "[Helper] Rejected client \u2014 max connections reached");
  } else {
    clientFDs[clientCount] = fd;
    ++clientCount;
    logClientEvent(ClientEvent::Connected, "[Helper] Client connected (fd=%d, total=%d)", fd, clientCount);
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
