#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Alert.h"

using CommandRunner = std::function<int(const std::string& executable, const std::vector<std::string>& arguments)>;

// A temporary home, and beside it an installer's Resources folder holding a
// helper bundle and the shipped autostart template. The installer runs on the
// real Linux platform against them; everything is removed afterwards.
class InstallerSandbox {
 public:
  InstallerSandbox();
  ~InstallerSandbox();
  InstallerSandbox(const InstallerSandbox&) = delete;
  InstallerSandbox& operator=(const InstallerSandbox&) = delete;

  // Chooses Install (or Reinstall) and returns the result alert.
  Alert install();
  // Chooses Uninstall, confirms, and returns the result alert.
  Alert uninstall();
  // The names in the autostart folder, where a stray temporary file would show.
  std::vector<std::string> autostartEntries() const;

  const std::filesystem::path root;
  const std::filesystem::path home;
  const std::filesystem::path resources;
  const std::filesystem::path helperBundle;
  const std::filesystem::path installDir;
  const std::filesystem::path bundlePath;
  const std::filesystem::path autostartDir;
  const std::filesystem::path desktopFile;

  // Carries out the commands. Unset, they are only recorded and succeed: a
  // real killall would stop helpers that other tests are running.
  CommandRunner runCommand;
  // Each command run, as "executable argument...".
  std::vector<std::string> commands;

 private:
  Alert run(const std::vector<int>& choices);
};

// Every entry under `folder` by its relative path: "folder", "file: <content>"
// or "link to <target>". Links are listed, never followed.
std::map<std::string, std::string> treeListing(const std::filesystem::path& folder);

void writeFile(const std::filesystem::path& path, const std::string& text);
std::string readFile(const std::filesystem::path& path);
