#pragma once

#include <optional>
#include <string>
#include <vector>

#include "HelperLog.h"
#include "HelperProcess.h"

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

// A helper started for a long run, with its log in a file that a LoggedTable
// follows. Where the machine allows, the run gets a network namespace of its
// own, so that nothing else on the machine meets its port.
class SoakSession {
 public:
  SoakSession(const std::string& binary, const std::vector<std::string>& environment, const std::string& logPath);

  HelperProcess& helper() { return helper_; }
  LoggedTable& table() { return table_; }
  bool privateNetwork() const { return privateNetwork_; }
  bool alive();

  // True once the helper has logged that it listens.
  bool awaitListening(int timeoutMs);
  // True once the log shows exactly `count` clients in the table.
  bool awaitClients(int count, int timeoutMs);
  // True once the helper holds exactly `count` descriptors.
  bool awaitDescriptors(int count, int timeoutMs);

 private:
  bool privateNetwork_;
  HelperProcess helper_;
  LoggedTable table_;
};
