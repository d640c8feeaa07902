#include "HelperLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kTableSlots = 4;

}  // namespace

std::function<void()> logToFile(const std::string& path) {
  return [path] {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) dup2(fd, STDERR_FILENO);
  };
}

LoggedTable::LoggedTable(const std::string& path) : path_(path) {}

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
    listening_ = true;
  } else if (std::sscanf(message.c_str(), "[Helper] Client connected (fd=%d, total=%d)", &fd, &total) == 2) {
    ++connects_;
    if (!admitted_.insert(fd).second || total != clients())
      faults_.push_back("table disagrees with the log at: " + message);
  } else if (std::sscanf(message.c_str(), "[Helper] Client disconnected (fd=%d)", &fd) == 1) {
    ++disconnects_;
    if (admitted_.erase(fd) != 1) faults_.push_back("removed a client that was not in the table: " + message);
  } else if (message == "[Helper] Rejected client \u2014 max connections reached") {
    ++rejections_;
    if (clients() != kTableSlots) faults_.push_back("rejected a client with a free slot: " + message);
  } else {
    faults_.push_back("unexpected log line: " + line);
  }
}
