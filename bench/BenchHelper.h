#pragma once

// Starts a build of the helper for a measurement, and reads its telemetry
// lines over 127.0.0.1:27830.

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "protocol/Stream.h"

inline sockaddr_in helperAddress() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  inet_pton(AF_INET, kListenAddress, &address.sin_addr);
  return address;
}

// Where the port is taken, the helper started here fails to bind and its
// clients would measure whatever holds the port, or wait on it: stop at once.
inline void requireFreePort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in address = helperAddress();
  const bool bound = bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  const int error = errno;
  close(probe);
  if (bound) return;
  std::fprintf(stderr, "cannot bind %s (%s): run this in namespaces of its own: bench/isolated COMMAND\n",
               listenEndpoint().c_str(), std::strerror(error));
  std::exit(1);
}

class BenchHelper {
 public:
  explicit BenchHelper(const char* program) {
    requireFreePort();
    pid_ = fork();
    if (pid_ == 0) {
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, STDERR_FILENO);  // its log would interleave with the figures
      execl(program, program, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~BenchHelper() { stop(); }
  BenchHelper(const BenchHelper&) = delete;
  BenchHelper& operator=(const BenchHelper&) = delete;

  pid_t pid() const { return pid_; }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

class BenchClient {
 public:
  // Connects, retrying for up to five seconds while the helper starts.
  BenchClient() {
    const sockaddr_in address = helperAddress();
    for (int tries = 0; tries < 250 && fd_ < 0; ++tries) {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        fd_ = fd;
      } else {
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  ~BenchClient() {
    if (fd_ >= 0) close(fd_);
  }
  BenchClient(BenchClient&& other) noexcept : fd_(other.fd_), buffer_(std::move(other.buffer_)) { other.fd_ = -1; }
  BenchClient(const BenchClient&) = delete;
  BenchClient& operator=(const BenchClient&) = delete;

  // The next whole line, or false when none comes within five seconds.
  bool readLine() {
    for (;;) {
      const std::size_t newline = buffer_.find('\n');
      if (newline != std::string::npos) {
        buffer_.erase(0, newline + 1);
        return true;
      }
      pollfd ready{fd_, POLLIN, 0};
      char chunk[4096];
      const ssize_t n = fd_ < 0 || poll(&ready, 1, 5000) != 1 ? 0 : recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};
