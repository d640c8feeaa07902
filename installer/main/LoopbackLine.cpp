#include "LoopbackLine.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A helper that was just started binds within milliseconds and sends its
// first line at once, else a whole cycle later: tries soon after each other
// at first catch that line, and later ones come less often.
constexpr auto kFirstRetryPause = std::chrono::milliseconds(1);
constexpr auto kLongestRetryPause = std::chrono::milliseconds(10);

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// False when the deadline came first.
bool awaitEvent(int fd, short events, Clock::time_point deadline) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, millisecondsUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// A connected socket, or -1 where this try met no listener.
int connectOnce(std::uint16_t port, Clock::time_point deadline) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  fcntl(fd, F_SETFL, O_NONBLOCK);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int error = 0;
  socklen_t size = sizeof error;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  if (errno == EINPROGRESS && awaitEvent(fd, POLLOUT, deadline) &&
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
    return fd;
  }
  close(fd);
  return -1;
}

}  // namespace

PortReply readLoopbackLine(std::uint16_t port, double seconds, std::size_t maxBytes) {
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  PortReply reply;
  int fd = -1;
  auto pause = kFirstRetryPause;
  while ((fd = connectOnce(port, deadline)) < 0) {
    if (Clock::now() + pause >= deadline) return reply;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause + kFirstRetryPause, kLongestRetryPause);
  }
  reply.connected = true;
  char buffer[256];
  while (reply.received.find('\n') == std::string::npos && reply.received.size() < maxBytes &&
         awaitEvent(fd, POLLIN, deadline)) {
    const ssize_t got = recv(fd, buffer, std::min(sizeof buffer, maxBytes - reply.received.size()), 0);
    if (got > 0) {
      reply.received.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      reply.closedByPeer = true;  // an orderly close or a reset
      break;
    }
  }
  close(fd);
  return reply;
}
