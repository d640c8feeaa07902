#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Runs a helper binary as a child, with its stderr (the log) captured.
class HelperProcess {
 public:
  // `beforeExec` runs in the child between fork and exec (limits, for example).
  explicit HelperProcess(const std::string& binary, const std::vector<std::string>& extraEnv = {},
                         const std::function<void()>& beforeExec = {});
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  pid_t pid() const { return pid_; }

  // True once a log message containing `text` has been seen.
  bool waitForLog(const std::string& text, int timeoutMs);
  // Log messages so far, each from "[Helper]" on (the NSLog-style prefix removed).
  std::vector<std::string> messages();
  // The whole raw stderr lines so far.
  std::vector<std::string> rawLines();
  // The exit status once the process ends within the time, else none.
  std::optional<int> waitExit(int timeoutMs);
  void kill();

 private:
  void pump(int timeoutMs);

  pid_t pid_ = -1;
  int stderrFd_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
  std::optional<int> exitStatus_;
};

// A telemetry consumer connected to 127.0.0.1:27830.
class TelemetryClient {
 public:
  // Connects, retrying until the time is up; fd() is -1 when it never connected.
  explicit TelemetryClient(int timeoutMs = 3000, int receiveBuffer = 0);
  ~TelemetryClient();
  TelemetryClient(TelemetryClient&& other) noexcept;
  TelemetryClient(const TelemetryClient&) = delete;
  TelemetryClient& operator=(const TelemetryClient&) = delete;
  TelemetryClient& operator=(TelemetryClient&& other) noexcept;

  int fd() const { return fd_; }
  bool connected() const { return fd_ >= 0; }
  // The next whole line, line feed included, or none when the time runs out or the peer closed.
  std::optional<std::string> readLine(int timeoutMs);
  // True when the peer closes the connection within the time, with no data first.
  bool closedWithoutData(int timeoutMs);
  bool sendText(const std::string& text);
  void close();

 private:
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

// Moves this process (and the children it starts later) into a network
// namespace of its own with loopback up and, if given, these TCP send-buffer
// sizes ("min default max"). False where the machine does not allow it.
bool enterPrivateNetwork(const std::string& tcpSendBuffers = "");

// Milliseconds on a monotonic clock.
long long monotonicMs();

// CPU time (user + system) of one thread of a process, in clock ticks; -1 if unknown.
long long threadCpuTicks(pid_t pid, pid_t tid);
// The thread ids of a process, in the order /proc lists them.
std::vector<pid_t> threadIds(pid_t pid);
