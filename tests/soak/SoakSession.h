#pragma once

#include <set>
#include <string>
#include <vector>

#include "HelperProcess.h"

constexpr int kTableSlots = 4;

// A temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Follows the helper's log file and keeps the client table as the log tells
// it. The helper logs every admission and removal while it holds the table's
// lock, so the order of the lines is the order of the changes.
class LoggedTable {
 public:
  explicit LoggedTable(const std::string& path) : path_(path) {}
  ~LoggedTable();
  LoggedTable(const LoggedTable&) = delete;
  LoggedTable& operator=(const LoggedTable&) = delete;

  // Takes in the lines appended since the last call.
  void update();

  int clients() const { return static_cast<int>(admitted_.size()); }

  bool listening = false;
  int connects = 0;
  int disconnects = 0;
  int rejections = 0;
  // Lines that are none of the helper's messages, or that contradict the table.
  std::vector<std::string> faults;

 private:
  void take(const std::string& line);

  std::string path_;
  int fd_ = -1;
  std::string pending_;
  std::set<int> admitted_;
};

// A helper started for a long run, its log going to a file (a pipe nobody
// drains would stall it) that a LoggedTable follows. Where the machine
// allows, the run gets a network namespace of its own, so that nothing else
// on the machine meets its port.
class SoakSession {
 public:
  SoakSession(const std::string& binary, const std::vector<std::string>& environment, const std::string& logPath);

  HelperProcess& helper() { return helper_; }
  LoggedTable& table() { return table_; }
  bool privateNetwork() const { return privateNetwork_; }
  bool alive() { return !helper_.waitExit(0); }

  // The helper's open descriptors, read from /proc.
  std::vector<int> descriptors() const;
  int descriptorCount() const { return static_cast<int>(descriptors().size()); }
  // Its resident memory (VmRSS) in KiB, or -1.
  long residentKiB() const;
  // CPU clock ticks of every thread but the main one: the accept side.
  long long acceptSideTicks() const;

  bool awaitListening(int timeoutMs);
  // True once the log shows exactly `count` clients in the table.
  bool awaitClients(int count, int timeoutMs);
  bool awaitDescriptorCount(int count, int timeoutMs);

 private:
  bool privateNetwork_;
  HelperProcess helper_;
  LoggedTable table_;
};
