#pragma once

#include "Platform.h"

// The parts of Platform that plain POSIX serves the same way on macOS and on
// Linux: user id, files, commands, sleep and the loopback. Each front adds its
// dialogs, its resource lookup, its home folder, its copy of the helper bundle,
// its download mark and its own signature.
class PosixPlatform : public Platform {
 public:
  std::uint32_t userId() override;
  bool fileExists(const std::string& path) override;
  bool isGone(const std::string& path) override;
  std::vector<std::string> folderEntries(const std::string& path) override;
  FileError removeItem(const std::string& path) override;
  FileError removeEmptyDirectory(const std::string& path) override;
  FileError createDirectory(const std::string& path) override;
  FileError moveItem(const std::string& from, const std::string& to) override;
  FileError readTextFile(const std::string& path, std::string& text) override;
  FileError writeTextFileAtomically(const std::string& path, const std::string& text) override;
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override;
  int runShellReading(const std::string& executable, const std::vector<std::string>& arguments,
                      std::string& output) override;
  // launchctl only hands the helper to launchd, which starts it afresh.
  int runDetached(const std::string& executable, const std::vector<std::string>& arguments) override;
  void sleepFor(double seconds) override;
  PortReply readLoopbackLine(std::uint16_t port, double seconds, std::size_t maxBytes) override;
  PortHolder whoListens(std::uint16_t port) override;
};
