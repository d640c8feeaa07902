#include "SoakSession.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "Reader.h"

namespace {

// The kernel's own defaults: the namespace only isolates the port.
const char* const kDefaultSendBuffers = "4096 16384 4194304";

// For HelperProcess's `beforeExec`: the helper's log goes to `path`.
std::function<void()> logToFile(const std::string& path) {
  return [path] {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) dup2(fd, STDERR_FILENO);
  };
}

}  // namespace

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/pelagrin-soak-XXXXXX";
  if (mkdtemp(pattern)) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

LoggedTable::~LoggedTable() {
  if (fd_ >= 0) close(fd_);
}

void LoggedTable::update() {
  // The helper creates the file once it has started.
  if (fd_ < 0) fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  char chunk[4096];
  ssize_t count;
  while (fd_ >= 0 && (count = read(fd_, chunk, sizeof chunk)) > 0) pending_.append(chunk, static_cast<std::size_t>(count));
  std::size_t newline;
  while ((newline = pending_.find('\n')) != std::string::npos) {
    take(pending_.substr(0, newline));
    pending_.erase(0, newline + 1);
  }
}

void LoggedTable::take(const std::string& line) {
  const std::size_t at = line.find("[Helper] ");
  const std::string message = at == std::string::npos ? line : line.substr(at);
  int fd = -1;
  int total = -1;
  if (message == "[Helper] Pelagrin Helper starting on port 27830") return;
  if (message == "[Helper] Listening on 127.0.0.1:27830") {
    listening = true;
  } else if (std::sscanf(message.c_str(), "[Helper] Client connected (fd=%d, total=%d)", &fd, &total) == 2) {
    ++connects;
    if (!admitted_.insert(fd).second || total != clients())
      faults.push_back("table disagrees with the log at: " + message);
  } else if (std::sscanf(message.c_str(), "[Helper] Client disconnected (fd=%d)", &fd) == 1) {
    ++disconnects;
    if (admitted_.erase(fd) != 1) faults.push_back("removed a client that was not in the table: " + message);
  } else if (message == "[Helper] Rejected client \u2014 max connections reached") {
    ++rejections;
    if (clients() != kTableSlots) faults.push_back("rejected a client with a free slot: " + message);
  } else {
    faults.push_back("unexpected log line: " + line);
  }
}

SoakSession::SoakSession(const std::string& binary, const std::vector<std::string>& environment,
                         const std::string& logPath)
    : privateNetwork_(enterPrivateNetwork(kDefaultSendBuffers)),
      helper_(binary, environment, logToFile(logPath)),
      table_(logPath) {}

std::vector<int> SoakSession::descriptors() const {
  std::vector<int> fds;
  DIR* dir = opendir(("/proc/" + std::to_string(helper_.pid()) + "/fd").c_str());
  if (!dir) return fds;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') fds.push_back(std::atoi(entry->d_name));
  closedir(dir);
  return fds;
}

long SoakSession::residentKiB() const {
  std::ifstream status("/proc/" + std::to_string(helper_.pid()) + "/status");
  long kib = -1;
  for (std::string field; status >> field;)
    if (field == "VmRSS:" && status >> kib) break;
  return kib;
}

long long SoakSession::acceptSideTicks() const {
  long long ticks = 0;
  for (const pid_t tid : threadIds(helper_.pid()))
    if (tid != helper_.pid()) ticks += threadCpuTicks(helper_.pid(), tid);
  return ticks;
}

bool SoakSession::awaitListening(int timeoutMs) {
  return serveUntil({}, [this] { return table_.update(), table_.listening; }, timeoutMs);
}

bool SoakSession::awaitClients(int count, int timeoutMs) {
  return serveUntil({}, [this, count] { return table_.update(), table_.clients() == count; }, timeoutMs);
}

bool SoakSession::awaitDescriptorCount(int count, int timeoutMs) {
  return serveUntil({}, [this, count] { return descriptorCount() == count; }, timeoutMs);
}
