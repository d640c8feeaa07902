#include "HelperProcess.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

long long monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

HelperProcess::HelperProcess(const std::string& binary, const std::vector<std::string>& extraEnv,
                             const std::function<void()>& beforeExec) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipeFds[1], STDERR_FILENO);
    close_range(3, ~0U, 0);  // the helper starts with only stdin, stdout and stderr, as under launchd
    for (const auto& entry : extraEnv) putenv(const_cast<char*>(entry.c_str()));
    if (beforeExec) beforeExec();
    execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(pipeFds[1]);
  stderrFd_ = pipeFds[0];
  fcntl(stderrFd_, F_SETFL, O_NONBLOCK);
}

HelperProcess::~HelperProcess() {
  kill();
  if (stderrFd_ >= 0) ::close(stderrFd_);
}

void HelperProcess::kill() {
  if (pid_ > 0 && !exitStatus_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    exitStatus_ = -1;
  }
}

void HelperProcess::pump(int timeoutMs) {
  if (stderrFd_ < 0) return;
  pollfd p{stderrFd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(stderrFd_, chunk, sizeof chunk);
    if (n <= 0) break;
    pending_.append(chunk, static_cast<size_t>(n));
  }
  size_t newline;
  while ((newline = pending_.find('\n')) != std::string::npos) {
    lines_.push_back(pending_.substr(0, newline));
    pending_.erase(0, newline + 1);
  }
}

bool HelperProcess::waitForLog(const std::string& text, int timeoutMs) {
  const long long deadline = monotonicMs() + timeoutMs;
  pump(0);
  for (;;) {
    for (const auto& line : lines_)
      if (line.find(text) != std::string::npos) return true;
    const long long left = deadline - monotonicMs();
    if (left <= 0) return false;
    pump(static_cast<int>(std::min(left, 50LL)));
  }
}

std::vector<std::string> HelperProcess::rawLines() {
  pump(0);
  return lines_;
}

std::vector<std::string> HelperProcess::messages() {
  std::vector<std::string> out;
  for (const auto& line : rawLines()) {
    const size_t at = line.find("[Helper]");
    if (at != std::string::npos) out.push_back(line.substr(at));
  }
  return out;
}

std::optional<int> HelperProcess::waitExit(int timeoutMs) {
  const long long deadline = monotonicMs() + timeoutMs;
  while (!exitStatus_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (monotonicMs() >= deadline) return std::nullopt;
    pump(20);
  }
  pump(0);
  return exitStatus_;
}

TelemetryClient::TelemetryClient(int timeoutMs, int receiveBuffer) {
  const long long deadline = monotonicMs() + timeoutMs;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(27830);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  do {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      fd_ = fd;
      return;
    }
    ::close(fd);
    usleep(20 * 1000);
  } while (monotonicMs() < deadline);
}

TelemetryClient::TelemetryClient(TelemetryClient&& other) noexcept
    : fd_(other.fd_), buffer_(std::move(other.buffer_)), eof_(other.eof_) {
  other.fd_ = -1;
}

TelemetryClient& TelemetryClient::operator=(TelemetryClient&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    buffer_ = std::move(other.buffer_);
    eof_ = other.eof_;
    other.fd_ = -1;
  }
  return *this;
}

TelemetryClient::~TelemetryClient() { close(); }

void TelemetryClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::optional<std::string> TelemetryClient::readLine(int timeoutMs) {
  const long long deadline = monotonicMs() + timeoutMs;
  for (;;) {
    const size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline + 1);
      buffer_.erase(0, newline + 1);
      return line;
    }
    const long long left = deadline - monotonicMs();
    if (fd_ < 0 || eof_ || left <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      eof_ = true;
    }
  }
}

bool TelemetryClient::closedWithoutData(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  char byte;
  const ssize_t n = recv(fd_, &byte, 1, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

bool TelemetryClient::sendText(const std::string& text) {
  return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

long long threadCpuTicks(pid_t pid, pid_t tid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/stat");
  std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = content.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(content.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // After the command come state (3) ... utime (14) and stime (15).
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::atoll(field.c_str());
    if (index == 15) stime = std::atoll(field.c_str());
  }
  return utime + stime;
}

std::vector<pid_t> threadIds(pid_t pid) {
  std::vector<pid_t> ids;
  const std::string path = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ids.push_back(static_cast<pid_t>(std::atoi(entry->d_name)));
    closedir(dir);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

bool enterPrivateNetwork(const std::string& tcpSendBuffers) {
  if (unshare(CLONE_NEWNET) != 0) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  const bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                  (request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP), ioctl(fd, SIOCSIFFLAGS, &request) == 0);
  ::close(fd);
  if (!up || tcpSendBuffers.empty()) return up;
  std::ofstream sysctl("/proc/sys/net/ipv4/tcp_wmem");
  sysctl << tcpSendBuffers;
  sysctl.close();
  return !sysctl.fail();
}
