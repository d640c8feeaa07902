#include "HelperInstaller.h"

#include "TemplateFill.h"

namespace {

constexpr const char* kLaunchctl = "/bin/launchctl";
constexpr const char* kKillall = "/usr/bin/killall";
constexpr const char* kSetsid = "/usr/bin/setsid";

constexpr const char* kTemplateBaseName = "app.pelagrin.helper";
constexpr const char* kBundleType = "app";
// Finder's record of how a folder was last shown, left in any folder it opened.
constexpr const char* kFinderMetadata = ".DS_Store";
constexpr double kStopGraceSeconds = 1.5;

// Where each agent system keeps things, relative to the home folder.
struct AgentConventions {
  const char* installDirSuffix;
  const char* plistDirSuffix;
  const char* plistName;
  const char* templateType;
  TemplateFormat templateFormat;
  const char* startFailureLead;
};

constexpr AgentConventions kLaunchdConventions{"/Library/Application Support/Pelagrin",
                                               "/Library/LaunchAgents",
                                               "app.pelagrin.helper.plist",
                                               "plist",
                                               TemplateFormat::PropertyList,
                                               "Helper installed but failed to start (launchctl error "};

constexpr AgentConventions kXdgConventions{
    "/.local/share/Pelagrin",      "/.config/autostart",
    "app.pelagrin.helper.desktop", "desktop",
    TemplateFormat::DesktopEntry,  "Helper installed but failed to start (error "};

const AgentConventions& conventionsFor(AgentSystem system) {
  return system == AgentSystem::Launchd ? kLaunchdConventions : kXdgConventions;
}

constexpr const char* kPromptTitle = "Pelagrin Sensor Helper";
constexpr const char* kPromptText =
    "This helper runs quietly in the background and provides real CPU temperature and GPU utilization to "
    "Pelagrin.\n\n\u2022 Starts automatically at login\n\u2022 Uses minimal resources\n\u2022 Communicates only "
    "with Pelagrin via localhost";

constexpr const char* kConfirmTitle = "Uninstall Sensor Helper?";
constexpr const char* kConfirmText =
    "This will stop the helper and remove it from your system. Pelagrin will fall back to network and thermal "
    "state gauges.";

constexpr const char* kErrorTitle = "Installation Failed";
constexpr const char* kUninstallErrorTitle = "Uninstall Failed";
constexpr const char* kSuccessTitle = "Success";

constexpr const char* kMissingHelperText = "Could not find the embedded helper app in Resources.";
constexpr const char* kMissingTemplateText = "Could not find the embedded LaunchAgent plist.";
constexpr const char* kCreateDirectoryLead = "Failed to create directory:\n";
constexpr const char* kCopyHelperLead = "Failed to copy helper app:\n";
constexpr const char* kInstallAgentLead = "Failed to install LaunchAgent:\n";
constexpr const char* kRemoveAgentLead = "Failed to remove LaunchAgent:\n";
constexpr const char* kRemoveHelperLead = "Failed to remove helper app:\n";
constexpr const char* kStillThere = "It is still there.";
constexpr const char* kStartFailureAdvice = ").\n\nTry logging out and back in.";
constexpr const char* kInstalledText =
    "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real CPU "
    "temperature and GPU utilization.";
constexpr const char* kUninstalledText =
    "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.";

}  // namespace

InstallerApp::InstallerApp(Platform& platform, AgentSystem system)
    : platform_(platform),
      system_(system),
      installDir_(platform.homeDirectory() + conventionsFor(system).installDirSuffix),
      plistDir_(platform.homeDirectory() + conventionsFor(system).plistDirSuffix),
      plistName_(conventionsFor(system).plistName),
      binaryName_("PelagrinHelper"),
      bundleName_("PelagrinHelper.app") {}

std::string InstallerApp::bundlePath() const { return installDir_ + "/" + bundleName_; }
std::string InstallerApp::binaryPath() const { return installDir_ + "/" + binaryName_; }
std::string InstallerApp::plistPath() const { return plistDir_ + "/" + plistName_; }
std::string InstallerApp::userDomain(std::uint32_t userId) const { return "gui/" + std::to_string(userId); }
std::string InstallerApp::agentTarget(std::uint32_t userId) const { return userDomain(userId) + "/" + plistName_; }
std::string InstallerApp::helperProgramPath() const { return bundlePath() + "/Contents/MacOS/" + binaryName_; }

bool InstallerApp::isInstalled() { return platform_.fileExists(bundlePath()) || platform_.fileExists(binaryPath()); }

void InstallerApp::applicationDidFinishLaunching() {
  const bool installed = isInstalled();
  Alert prompt{kPromptTitle, kPromptText, AlertStyle::Informational, {}};
  prompt.addButton(installed ? "Reinstall" : "Install");
  prompt.addButton("Uninstall");
  prompt.addButton("Cancel");
  prompt.buttons[1].enabled = installed;

  switch (platform_.runModal(prompt)) {
    case kAlertFirstButtonReturn: install(); break;
    case kAlertSecondButtonReturn: uninstall(); break;
    default: break;
  }
}

void InstallerApp::install() {
  const auto helperSourcePath = platform_.pathForResource(binaryName_, kBundleType);
  if (!helperSourcePath) {
    showError(kMissingHelperText);
    return;
  }
  const auto templatePath = platform_.pathForResource(kTemplateBaseName, conventionsFor(system_).templateType);
  if (!templatePath) {
    showError(kMissingTemplateText);
    return;
  }
  const std::uint32_t userId = platform_.userId();

  stopEarlierHelper(userId);
  if (!placeHelper(*helperSourcePath) || !installAgentFile(*templatePath)) return;

  const int startStatus = startAgent(userId);
  if (startStatus == 0) {
    showSuccess(kInstalledText);
  } else {
    showError(startFailureText(startStatus));
  }
}

// Best effort: there may be nothing to stop or remove.
void InstallerApp::stopEarlierHelper(std::uint32_t userId) {
  stopHelper(userId);
  platform_.removeItem(plistPath());
  // Lets the old process let go of the port and its files before they are replaced.
  platform_.sleepFor(kStopGraceSeconds);
}

bool InstallerApp::placeHelper(const std::string& helperSourcePath) {
  if (const FileError error = platform_.createDirectory(installDir_)) {
    showError(kCreateDirectoryLead + *error);
    return false;
  }
  // The whole earlier bundle goes, so nothing of an older version survives.
  platform_.removeItem(bundlePath());
  platform_.removeItem(binaryPath());
  if (const FileError error = platform_.copyItem(helperSourcePath, bundlePath())) {
    showError(kCopyHelperLead + *error);
    return false;
  }
  return true;
}

bool InstallerApp::installAgentFile(const std::string& templatePath) {
  std::string text;
  std::string filled;
  FileError error = platform_.readTextFile(templatePath, text);
  if (!error) error = fillInstallPath(text, installDir_, conventionsFor(system_).templateFormat, filled);
  if (!error) error = platform_.createDirectory(plistDir_);
  if (!error) error = platform_.writeTextFileAtomically(plistPath(), filled);
  if (error) showError(kInstallAgentLead + *error);
  return !error;
}

// The statuses say nothing useful: there is often no helper to stop.
void InstallerApp::stopHelper(std::uint32_t userId) {
  for (const Command& command : stopCommands(userId)) platform_.runShell(command.executable, command.arguments);
}

int InstallerApp::startAgent(std::uint32_t userId) {
  int status = 0;
  for (const Command& command : startCommands(userId)) {
    status = platform_.runShell(command.executable, command.arguments);
    if (status == 0) break;
  }
  return status;
}

std::vector<InstallerApp::Command> InstallerApp::stopCommands(std::uint32_t userId) const {
  if (system_ == AgentSystem::XdgAutostart) return {{kKillall, {binaryName_}}};
  return {
      {kLaunchctl, {"bootout", agentTarget(userId)}}, {kLaunchctl, {"unload", plistPath()}}, {kKillall, {binaryName_}}};
}

std::vector<InstallerApp::Command> InstallerApp::startCommands(std::uint32_t userId) const {
  if (system_ == AgentSystem::XdgAutostart) return {{kSetsid, {"-f", helperProgramPath()}}};
  return {{kLaunchctl, {"bootstrap", userDomain(userId), plistPath()}}, {kLaunchctl, {"load", plistPath()}}};
}

std::string InstallerApp::startFailureText(int status) const {
  return conventionsFor(system_).startFailureLead + std::to_string(status) + kStartFailureAdvice;
}

void InstallerApp::uninstall() {
  const std::uint32_t userId = platform_.userId();
  if (!confirmUninstall()) return;

  // Best effort: whatever is already gone is simply skipped.
  stopHelper(userId);
  const FileError agentError = platform_.removeItem(plistPath());
  const FileError bundleError = platform_.removeItem(bundlePath());
  const FileError binaryError = platform_.removeItem(binaryPath());
  removeInstallDirIfUnused();
  // The agent file would bring the helper back at the next login, and either
  // helper keeps it counted as installed.
  if (!platform_.isGone(plistPath())) {
    showUninstallError(kRemoveAgentLead + agentError.value_or(kStillThere));
  } else if (!platform_.isGone(bundlePath())) {
    showUninstallError(kRemoveHelperLead + bundleError.value_or(kStillThere));
  } else if (!platform_.isGone(binaryPath())) {
    showUninstallError(kRemoveHelperLead + binaryError.value_or(kStillThere));
  } else {
    showSuccess(kUninstalledText);
  }
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

void InstallerApp::showError(const std::string& message) {
  platform_.runModal(Alert{kErrorTitle, message, AlertStyle::Critical, {}});
}

void InstallerApp::showUninstallError(const std::string& message) {
  platform_.runModal(Alert{kUninstallErrorTitle, message, AlertStyle::Critical, {}});
}

void InstallerApp::showSuccess(const std::string& message) {
  platform_.runModal(Alert{kSuccessTitle, message, AlertStyle::Informational, {}});
}
