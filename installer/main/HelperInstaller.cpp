#include "HelperInstaller.h"

#include <algorithm>
#include <map>

#include "AgentConventions.h"
#include "InstallerTexts.h"

// The installer's layout, the launch prompt, the uninstall procedure and the
// commands of the conventions; the install procedure is in Install.cpp, its
// start and proof in StartProof.cpp.

namespace {

// Hidden names beside the installed helper: the new bundle while it is copied
// and checked, and the earlier helper while the new one is not yet running.
constexpr const char* kStagedBundleName = ".PelagrinHelper-new.app";
constexpr const char* kEarlierBundleName = ".PelagrinHelper-earlier.app";
constexpr const char* kEarlierBinaryName = ".PelagrinHelper-earlier";
// Finder's record of how a folder was last shown, left in any folder it opened.
constexpr const char* kFinderMetadata = ".DS_Store";
// A helper may take a moment to go once told to stop: checked at once, then
// every quarter second, for the same grace in all.
constexpr int kStopChecks = 7;

}  // namespace

InstallerApp::InstallerApp(Platform& platform)
    : platform_(platform),
      conventions_(conventionsFor(platform.agentSystem())),
      installDir_(platform.homeDirectory() + conventions_.installDirSuffix),
      plistDir_(platform.homeDirectory() + conventions_.plistDirSuffix),
      plistName_(conventions_.plistName),
      binaryName_("PelagrinHelper"),
      bundleName_("PelagrinHelper.app") {}

std::string InstallerApp::bundlePath() const { return installDir_ + "/" + bundleName_; }
std::string InstallerApp::binaryPath() const { return installDir_ + "/" + binaryName_; }
std::string InstallerApp::plistPath() const { return plistDir_ + "/" + plistName_; }
std::string InstallerApp::userDomain(std::uint32_t userId) const { return "gui/" + std::to_string(userId); }
std::string InstallerApp::agentTarget(std::uint32_t userId) const { return userDomain(userId) + "/" + plistName_; }
std::string InstallerApp::helperProgramPath() const { return bundlePath() + "/Contents/MacOS/" + binaryName_; }
std::string InstallerApp::stagedBundlePath() const { return installDir_ + "/" + kStagedBundleName; }
std::string InstallerApp::earlierBundlePath() const { return installDir_ + "/" + kEarlierBundleName; }
std::string InstallerApp::earlierBinaryPath() const { return installDir_ + "/" + kEarlierBinaryName; }

bool InstallerApp::isInstalled() {
  return platform_.fileExists(helperProgramPath()) || platform_.fileExists(binaryPath());
}

Outcome InstallerApp::applicationDidFinishLaunching() {
  const bool installed = isInstalled();
  Alert prompt{kPromptTitle, kPromptText, AlertStyle::Informational, {}};
  prompt.addButton(installed ? "Reinstall" : "Install");
  prompt.addButton("Uninstall");
  prompt.addButton("Cancel");
  prompt.buttons[1].enabled = installed;

  switch (platform_.runModal(prompt)) {
    case kAlertFirstButtonReturn: return install();
    case kAlertSecondButtonReturn: return uninstall(true);
    default: return Outcome::NothingChosen;
  }
}

Outcome InstallerApp::perform(Action action) {
  if (action == Action::Install) return install();
  // The prompt offers no uninstall then either; a script asking for one has
  // what it wants.
  if (!isInstalled()) return showSuccess(kNotInstalledText);
  return uninstall(false);
}

std::vector<std::string> InstallerApp::filledArguments(const AgentCommand& command, std::uint32_t userId) const {
  const std::map<std::string, std::string> values = {
      {kAgentTarget, agentTarget(userId)}, {kUserDomain, userDomain(userId)}, {kPlistPath, plistPath()},
      {kUserId, std::to_string(userId)},   {kBinaryName, binaryName_},        {kHelperProgram, helperProgramPath()}};
  std::vector<std::string> arguments;
  for (const std::string& argument : command.arguments) {
    const auto value = values.find(argument);
    arguments.push_back(value == values.end() ? argument : value->second);
  }
  return arguments;
}

int InstallerApp::run(const AgentCommand& command, std::uint32_t userId, std::string* output) {
  const std::vector<std::string> arguments = filledArguments(command, userId);
  if (output != nullptr) return platform_.runShellReading(command.executable, arguments, *output);
  return platform_.runShell(command.executable, arguments);
}

int InstallerApp::runStart(const AgentCommand& command, std::uint32_t userId) {
  if (!conventions_.startsHelperItself) return run(command, userId);
  return platform_.runDetached(command.executable, filledArguments(command, userId));
}

// Nothing to stop is the usual case; only a command that could not run at all
// fails. Until the system has let go of the old job, a start of the same
// label fails.
InstallerApp::Failure InstallerApp::runStopCommands(std::uint32_t userId) {
  for (const AgentCommand& command : conventions_.stopCommands) {
    if (run(command, userId) == kCannotStartStatus) {
      return kStopCannotRunLead + command.executable + " could not be run.";
    }
  }
  awaitAgentGone(userId);
  return std::nullopt;
}

InstallerApp::Failure InstallerApp::awaitHelperGone(std::uint32_t userId) {
  for (int check = 1;; ++check) {
    const int status = run(conventions_.helperRuns, userId);
    if (status == kNoHelperRuns) return std::nullopt;
    if (status != kHelperRuns) return cannotTellWhetherHelperRuns(status);
    if (check == kStopChecks) {
      return binaryName_ + " of user " + std::to_string(userId) + " is still running: it would not stop.";
    }
    platform_.sleepFor(kStopCheckSeconds);
  }
}

InstallerApp::Failure InstallerApp::cannotTellWhetherHelperRuns(int status) const {
  return "Could not tell whether " + binaryName_ + " runs (" + conventions_.helperRuns.executable + " error " +
         std::to_string(status) + ").";
}

Outcome InstallerApp::uninstall(bool askFirst) {
  const std::uint32_t userId = platform_.userId();
  if (askFirst && !confirmUninstall()) return Outcome::NothingChosen;

  // Best effort: whatever is already gone is simply skipped, and the files go
  // even where the helper would not stop.
  Failure stopFailure = runStopCommands(userId);
  if (!stopFailure) stopFailure = awaitHelperGone(userId);
  const FileError agentError = platform_.removeItem(plistPath());
  const FileError bundleError = platform_.removeItem(bundlePath());
  const FileError binaryError = platform_.removeItem(binaryPath());
  removeInstallDirIfUnused();
  // A running helper still serves; the agent file would bring it back at the
  // next login, and either helper keeps it counted as installed.
  if (stopFailure) return showUninstallError(*stopFailure);
  if (!platform_.isGone(plistPath())) {
    return showUninstallError(conventions_.removeAgentLead + agentError.value_or(kStillThere));
  }
  if (!platform_.isGone(bundlePath())) return showUninstallError(kRemoveHelperLead + bundleError.value_or(kStillThere));
  if (!platform_.isGone(binaryPath())) return showUninstallError(kRemoveHelperLead + binaryError.value_or(kStillThere));
  return showSuccess(kUninstalledText);
}

// The folder is also the Pelagrin app's own support folder: only what the
// installer put there goes, and the folder itself only once nothing but
// Finder's metadata is left in it.
void InstallerApp::removeInstallDirIfUnused() {
  if (platform_.folderEntries(installDir_) == std::vector<std::string>{kFinderMetadata}) {
    platform_.removeItem(installDir_ + "/" + kFinderMetadata);
  }
  platform_.removeEmptyDirectory(installDir_);
}

bool InstallerApp::confirmUninstall() {
  Alert confirmation{kConfirmTitle, kConfirmText, AlertStyle::Warning, {}};
  confirmation.addButton("Uninstall");
  confirmation.addButton("Cancel");
  return platform_.runModal(confirmation) == kAlertFirstButtonReturn;
}

Outcome InstallerApp::showError(const std::string& message) {
  platform_.runModal(Alert{kErrorTitle, message, AlertStyle::Critical, {}});
  return Outcome::Failed;
}

Outcome InstallerApp::showUninstallError(const std::string& message) {
  platform_.runModal(Alert{kUninstallErrorTitle, message, AlertStyle::Critical, {}});
  return Outcome::Failed;
}

Outcome InstallerApp::showSuccess(const std::string& message) {
  platform_.runModal(Alert{kSuccessTitle, message, AlertStyle::Informational, {}});
  return Outcome::Done;
}
