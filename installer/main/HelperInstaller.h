#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Platform.h"

// Which login-agent mechanism the helper is registered with: launchd on macOS,
// an XDG autostart entry on the Linux stand-in.
enum class AgentSystem { Launchd, XdgAutostart };

// The installer: the installation layout, the launch prompt, and the install
// and uninstall procedures with every message they show. One per run.
class InstallerApp {
 public:
  InstallerApp(Platform& platform, AgentSystem system);

  // Asks once what to do and does it; the caller ends the application afterwards.
  void applicationDidFinishLaunching();

 private:
  struct Command {
    std::string executable;
    std::vector<std::string> arguments;
  };

  std::string bundlePath() const;
  std::string binaryPath() const;
  std::string plistPath() const;
  std::string userDomain(std::uint32_t userId) const;
  std::string agentTarget(std::uint32_t userId) const;
  // The helper program inside the installed bundle.
  std::string helperProgramPath() const;

  // The bundle counts first, then a bare helper program; the agent file does not.
  bool isInstalled();

  void install();
  bool placeHelper(const std::string& helperSourcePath);
  bool installAgentFile(const std::string& templatePath);
  void uninstall();
  void removeInstallDirIfUnused();
  bool confirmUninstall();

  std::vector<Command> stopCommands(std::uint32_t userId) const;
  // Tried in order until one succeeds.
  std::vector<Command> startCommands(std::uint32_t userId) const;
  void stopHelper(std::uint32_t userId);
  void stopEarlierHelper(std::uint32_t userId);
  int startAgent(std::uint32_t userId);
  std::string startFailureText(int status) const;

  void showError(const std::string& message);
  void showUninstallError(const std::string& message);
  void showSuccess(const std::string& message);

  Platform& platform_;
  const AgentSystem system_;
  const std::string installDir_;
  const std::string plistDir_;
  const std::string plistName_;
  const std::string binaryName_;
  const std::string bundleName_;
};
