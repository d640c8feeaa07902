#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

#include "ClientTable.h"
#include "Cycle.h"
#include "Log.h"
#include "protocol/Stream.h"

#ifndef PELAGRIN_CYCLE_SECONDS
#define PELAGRIN_CYCLE_SECONDS 2.0
#endif

namespace {

constexpr int kListenBacklog = 4;
constexpr double kCyclePause = PELAGRIN_CYCLE_SECONDS;
// 10 s for the shipped helper. Five cycles in every build, so that a test
// build's short cycle counts its own churn as the everyday kind, not a flood,
// and the loop's check for a count held back is never more than a cycle late.
constexpr double kClientEventWindow = 5 * kCyclePause;
// Long enough for the log threads to write a failed start's two lines, short
// enough that a stalled terminal cannot keep a failed helper alive.
constexpr double kLogDrainSeconds = 1.0;

void sleepSeconds(double seconds) {
  const auto whole = static_cast<time_t>(seconds);
  timespec remaining{whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {}
}

// A launcher may start the helper with 0, 1 or 2 closed. The next socket
// would take that number, and the log's stderr line would land in a client's
// stream, so each is held open on /dev/null before anything else is opened.
bool standardDescriptorsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd) return false;
  }
  return true;
}

constexpr const char* kUsage = R"(Usage: PelagrinHelper [--help | --version]

The Pelagrin sensor helper. Without an argument it sends one JSON line of
sensor readings every 2 s to each client of 127.0.0.1:27830, until it is
stopped. The login agent that HelperInstaller writes starts it at login.
)";

// The service takes no settings: launchd and the autostart entry start it
// bare. An argument is a person asking, answered without touching the port.
int answerArguments(int argc, char** argv) {
  const std::string_view option = argv[1];
  if (argc == 2 && option == "--version") {
    std::printf("PelagrinHelper %s\n", PELAGRIN_VERSION);
    return 0;
  }
  const bool help = argc == 2 && option == "--help";
  std::fputs(kUsage, help ? stdout : stderr);
  return help ? 0 : 2;
}

int failedStart() {
  drainLog(kLogDrainSeconds);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) return answerArguments(argc, argv);
  if (!standardDescriptorsOpen()) return 1;
  // A log line to a stderr whose reader has gone must fail, not end the
  // service; nor may one to a terminal that stops background writers.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGTTOU, SIG_IGN);
  helperLog("[Helper] Pelagrin Helper starting on port %d", kPort);

  const int listenFd = socket(AF_INET, SOCK_STREAM, 0);
  if (listenFd < 0) {
    helperLog("[Helper] Failed to create socket");
    return failedStart();
  }
  const int one = 1;
  setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = inet_addr(kListenAddress);
  if (bind(listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
    helperLog("[Helper] Failed to bind to port %d (already in use?)", kPort);
    close(listenFd);
    return failedStart();
  }
  if (listen(listenFd, kListenBacklog) < 0) {
    helperLog("[Helper] Failed to listen");
    close(listenFd);
    return failedStart();
  }
  helperLog("[Helper] Listening on %s:%d", kListenAddress, kPort);

  limitClientEvents(kClientEventWindow);
  pthread_t acceptor;
  if (pthread_create(&acceptor, nullptr, acceptThread, reinterpret_cast<void*>(static_cast<std::intptr_t>(listenFd))) !=
      0) {
    // Without the thread no client could ever connect; better to fail visibly.
    helperLog("[Helper] Failed to start accept thread");
    close(listenFd);
    return failedStart();
  }
  pthread_detach(acceptor);

  for (;;) {
    broadcastOneCycle();
    logHeldBackClientEvents();
    sleepSeconds(kCyclePause);
  }
}
