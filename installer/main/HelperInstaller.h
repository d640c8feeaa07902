#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform.h"

// How a run ended, as the process's exit status: the chosen action succeeded,
// it failed (an error alert said why), or nothing was chosen.
enum class Outcome { Done = 0, Failed = 1, NothingChosen = 2 };

// What a command-line option asks for: carried out at once, without the launch
// prompt or the uninstall confirmation, since the option is the choice.
enum class Action { Install, Uninstall };

// Where one agent system keeps things, its commands and its words.
struct AgentConventions;
struct AgentCommand;

// The installer: the installation layout, the launch prompt, and the install
// and uninstall procedures with every message they show. One per run.
class InstallerApp {
 public:
  // Follows the conventions of the platform's agent system.
  explicit InstallerApp(Platform& platform);

  // Asks once what to do and does it; the caller then ends the application
  // with the outcome as its exit status.
  Outcome applicationDidFinishLaunching();
  // Does what the option asks; an uninstall with nothing installed only says so.
  Outcome perform(Action action);

 private:
  // The text of the error alert; none where the step succeeded.
  using Failure = std::optional<std::string>;

  std::string bundlePath() const;
  std::string binaryPath() const;
  std::string plistPath() const;
  std::string userDomain(std::uint32_t userId) const;
  std::string agentTarget(std::uint32_t userId) const;
  // The helper program inside the installed bundle.
  std::string helperProgramPath() const;

  // Beside the installed bundle, in the same folder, so that a rename moves it:
  // the new bundle until it is whole, then the earlier one until the new one runs.
  std::string stagedBundlePath() const;
  std::string earlierBundlePath() const;
  std::string earlierBinaryPath() const;

  // A bundle counts only with its helper program in it (a copy that ran out of
  // room does not), then a bare helper program; the agent file does not.
  bool isInstalled();

  // What a reinstall found, to put back should it fail.
  struct Earlier {
    bool bundle = false;
    bool binary = false;
    std::optional<std::string> agentText;
    bool running = false;
  };

  Outcome install();
  Failure stageHelper(const std::string& helperSourcePath, std::uint32_t userId);
  Failure clearDownloadMark(const std::string& bundle, std::uint32_t userId);
  Failure filledAgentText(const std::string& templatePath, std::string& filled);
  Failure recordEarlier(std::uint32_t userId, Earlier& earlier);
  Failure stopEarlierHelper(std::uint32_t userId);
  Failure swapInStagedHelper(const Earlier& earlier);
  Failure writeAgentFile(const std::string& filled);
  Failure startHelper(std::uint32_t userId);
  bool isTurnedOff(std::uint32_t userId);
  bool isRefusedAsTurnedOff(int status, std::uint32_t userId);
  bool isAgentHeld(std::uint32_t userId);
  void awaitAgentGone(std::uint32_t userId);
  std::string rollBack(const Earlier& earlier, bool started, std::uint32_t userId);
  Failure proveHelperServes(std::uint32_t userId);
  Outcome uninstall(bool askFirst);
  void removeInstallDirIfUnused();
  bool confirmUninstall();

  // A command of the conventions with this run's values filled in.
  std::vector<std::string> filledArguments(const AgentCommand& command, std::uint32_t userId) const;
  // Runs a command of the conventions, and keeps its output where asked to.
  int run(const AgentCommand& command, std::uint32_t userId, std::string* output = nullptr);
  // Runs a start command; one that leaves the helper as its own child gives
  // it nothing of the installer's.
  int runStart(const AgentCommand& command, std::uint32_t userId);
  Failure runStopCommands(std::uint32_t userId);
  Failure awaitHelperGone(std::uint32_t userId);
  Failure cannotTellWhetherHelperRuns(int status) const;

  Outcome showError(const std::string& message);
  Outcome showUninstallError(const std::string& message);
  Outcome showSuccess(const std::string& message);

  Platform& platform_;
  const AgentConventions& conventions_;
  const std::string installDir_;
  const std::string plistDir_;
  const std::string plistName_;
  const std::string binaryName_;
  const std::string bundleName_;
};
