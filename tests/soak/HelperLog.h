#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

// For HelperProcess's `beforeExec`: the child's stderr, the helper's log, goes
// to `path`, so a long run never stalls on a pipe that nobody drains.
std::function<void()> logToFile(const std::string& path);

// Follows the helper's log file and keeps the client table as the log tells
// it. The helper logs every admission and removal while it holds the table's
// lock, so the order of the lines is the order of the changes.
class LoggedTable {
 public:
  explicit LoggedTable(const std::string& path);
  ~LoggedTable();
  LoggedTable(const LoggedTable&) = delete;
  LoggedTable& operator=(const LoggedTable&) = delete;

  // Takes in the lines appended since the last call.
  void update();

  bool listening() const { return listening_; }
  int clients() const { return static_cast<int>(admitted_.size()); }
  int connects() const { return connects_; }
  int disconnects() const { return disconnects_; }
  int rejections() const { return rejections_; }
  // Lines that are none of the helper's messages, or that contradict the table.
  const std::vector<std::string>& faults() const { return faults_; }

 private:
  void take(const std::string& line);

  std::string path_;
  int fd_ = -1;
  std::string pending_;
  bool listening_ = false;
  std::set<int> admitted_;
  int connects_ = 0;
  int disconnects_ = 0;
  int rejections_ = 0;
  std::vector<std::string> faults_;
};
