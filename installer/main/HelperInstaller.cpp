#include "HelperInstaller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string_view>

#include "TemplateFill.h"

// A program and its arguments. An argument that names a value of the run
// ("<plistPath>", "<userId>", ...) is replaced by that value, whole.
struct AgentCommand {
  std::string executable;
  std::vector<std::string> arguments;
};

struct AgentConventions {
  const char* installDirSuffix;  // relative to the home folder, as plistDirSuffix
  const char* plistDirSuffix;
  const char* plistName;
  const char* templateType;
  TemplateFormat templateFormat;
  // Each stops the helper its own way; there is often nothing to stop.
  std::vector<AgentCommand> stopCommands;
  // Tried in order until one succeeds.
  std::vector<AgentCommand> startCommands;
  // Whether a start command leaves the helper running as its own child, which
  // must then get nothing of the installer's; launchd starts its own afresh.
  bool startsHelperItself;
  // Exits 0 while a helper of this user runs, 1 when none does.
  AgentCommand helperRuns;
  // Prints the labels of the user's agents with each one's state; none where
  // the user cannot turn an agent off.
  std::optional<AgentCommand> agentStates;
  // Exits 0 while the system still holds the agent's job; none where it keeps none.
  std::optional<AgentCommand> agentHeld;
  // The first start command's answer for a label the user turned off, and
  // its answer that may mean that too, or that the job is still going.
  std::optional<int> turnedOffStatus;
  std::optional<int> turnedOffOrStillGoingStatus;
  // Exits 0 when the copied bundle's code signature satisfies <requirement>;
  // none where the system signs no code.
  std::optional<AgentCommand> signatureCheck;
  const char* missingTemplateText;
  const char* installAgentLead;
  const char* removeAgentLead;
  const char* startFailureLead;
};

namespace {

constexpr const char* kLaunchctl = "/bin/launchctl";
constexpr const char* kPgrep = "/usr/bin/pgrep";

constexpr const char* kAgentTarget = "<agentTarget>";
constexpr const char* kUserDomain = "<userDomain>";
constexpr const char* kPlistPath = "<plistPath>";
constexpr const char* kUserId = "<userId>";
constexpr const char* kBinaryName = "<binaryName>";
// The bundle under check, which is not yet in its place.
constexpr const char* kBundlePath = "<bundlePath>";
constexpr const char* kHelperProgram = "<helperProgram>";
constexpr const char* kRequirement = "<requirement>";

// launchd's commands act within the user's own domain, and killall as a user
// can signal only the user's own processes.
const AgentConventions kLaunchdConventions{
    .installDirSuffix = "/Library/Application Support/Pelagrin",
    .plistDirSuffix = "/Library/LaunchAgents",
    .plistName = "app.pelagrin.helper.plist",
    .templateType = "plist",
    .templateFormat = TemplateFormat::PropertyList,
    .stopCommands = {{kLaunchctl, {"bootout", kAgentTarget}},
                     {kLaunchctl, {"unload", kPlistPath}},
                     {"/usr/bin/killall", {kBinaryName}}},
    .startCommands = {{kLaunchctl, {"bootstrap", kUserDomain, kPlistPath}}, {kLaunchctl, {"load", kPlistPath}}},
    .startsHelperItself = false,
    .helperRuns = {kPgrep, {"-U", kUserId, "-x", kBinaryName}},
    .agentStates = AgentCommand{kLaunchctl, {"print-disabled", kUserDomain}},
    .agentHeld = AgentCommand{kLaunchctl, {"print", kAgentTarget}},
    .turnedOffStatus = 119,            // "Service is disabled", from macOS 26
    .turnedOffOrStillGoingStatus = 5,  // "Input/output error"
    .signatureCheck = AgentCommand{"/usr/bin/codesign", {"--verify", "--strict", kRequirement, kBundlePath}},
    .missingTemplateText = "Could not find the embedded LaunchAgent plist.",
    .installAgentLead = "Failed to install LaunchAgent:\n",
    .removeAgentLead = "Failed to remove LaunchAgent:\n",
    .startFailureLead = "Helper installed but failed to start (launchctl error ",
};

// pkill -U stops only the processes of this real user id, even for root.
const AgentConventions kXdgConventions{
    .installDirSuffix = "/.local/share/Pelagrin",
    .plistDirSuffix = "/.config/autostart",
    .plistName = "app.pelagrin.helper.desktop",
    .templateType = "desktop",
    .templateFormat = TemplateFormat::DesktopEntry,
    .stopCommands = {{"/usr/bin/pkill", {"-U", kUserId, "-x", kBinaryName}}},
    .startCommands = {{"/usr/bin/setsid", {"-f", kHelperProgram}}},
    .startsHelperItself = true,
    .helperRuns = {kPgrep, {"-U", kUserId, "-x", kBinaryName}},
    .agentStates = std::nullopt,
    .agentHeld = std::nullopt,
    .turnedOffStatus = std::nullopt,
    .turnedOffOrStillGoingStatus = std::nullopt,
    .signatureCheck = std::nullopt,
    .missingTemplateText = "Could not find the embedded autostart entry.",
    .installAgentLead = "Failed to install autostart entry:\n",
    .removeAgentLead = "Failed to remove autostart entry:\n",
    .startFailureLead = "Helper installed but failed to start (error ",
};

const AgentConventions& conventionsFor(AgentSystem system) {
  return system == AgentSystem::Launchd ? kLaunchdConventions : kXdgConventions;
}

constexpr const char* kTemplateBaseName = "app.pelagrin.helper";
constexpr const char* kHelperIdentifier = "app.pelagrin.helper";
// What packaging/sign.sh signs the installer as; a build it has not signed
// carries at most the linker's ad hoc signature, under another identifier.
constexpr const char* kInstallerIdentifier = "app.pelagrin.helper-installer";
constexpr const char* kBundleType = "app";
// Hidden names beside the installed helper: the new bundle while it is copied
// and checked, and the earlier helper while the new one is not yet running.
constexpr const char* kStagedBundleName = ".PelagrinHelper-new.app";
constexpr const char* kEarlierBundleName = ".PelagrinHelper-earlier.app";
constexpr const char* kEarlierBinaryName = ".PelagrinHelper-earlier";
// Finder's record of how a folder was last shown, left in any folder it opened.
constexpr const char* kFinderMetadata = ".DS_Store";
constexpr double kStopGraceSeconds = 1.5;
// A helper may take a moment to go once told to stop: checked at once, then
// every quarter second, for the same grace in all.
constexpr int kStopChecks = 7;
constexpr double kStopCheckSeconds = 0.25;
// bootout returns before launchd has let go of the job.
constexpr double kAgentGoneSeconds = 5;
constexpr int kHelperRuns = 0;
constexpr int kNoHelperRuns = 1;

constexpr std::uint16_t kHelperPort = 27830;
// The helper sends a line every 2 s, the first as soon as it listens; a client
// that connects just after a send waits a whole cycle.
constexpr int kFirstLineSeconds = 5;
// A telemetry line is under 100 bytes.
constexpr std::size_t kReplyBytes = 256;
constexpr std::size_t kShownBytes = 80;

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
constexpr const char* kCreateDirectoryLead = "Failed to create directory:\n";
constexpr const char* kCopyHelperLead = "Failed to copy helper app:\n";
constexpr const char* kBadSignatureLead = "The copied helper app's code signature is not valid (error ";
constexpr const char* kBadSignatureAdvice = ").\n\nThe installer may be damaged: download it again.";
constexpr const char* kUnsignedBuildAdvice =
    ").\n\nThis installer is an unsigned development build: sign it with packaging/sign.sh, then run the signed "
    "copy in dist/.";
constexpr const char* kDownloadMarkLead = "Failed to clear the helper app's download mark:\n";
constexpr const char* kRemoveHelperLead = "Failed to remove helper app:\n";
constexpr const char* kStillThere = "It is still there.";
constexpr const char* kStartFailureAdvice = ").\n\nTry logging out and back in.";
constexpr const char* kMaybeTurnedOffAdvice =
    ").\n\nIf Pelagrin Sensor Helper is turned off in System Settings \u203a General \u203a Login Items, turn it "
    "on there and run this installer again. Otherwise, try logging out and back in.";
constexpr const char* kTurnedOffText =
    "Pelagrin Sensor Helper is turned off in System Settings \u203a General \u203a Login Items. Turn it on there, "
    "then run this installer again.";
constexpr const char* kStopCannotRunLead = "Could not stop the running helper: ";
// "@" stands for the address the helper listens on (atHelperAddress).
constexpr const char* kNothingListensText =
    "Helper installed but not running: nothing listens on @.\n\nIt stopped at once or never started.";
constexpr const char* kHeldByLead = "Helper installed but not running: @ is held by ";
constexpr const char* kCannotTellLead = "Helper installed, but who holds @ cannot be told: ";
constexpr const char* kOddAnswerLead = "Helper installed, but instead of its telemetry line it answered \"";
constexpr const char* kFourClientsText =
    "Helper installed, but @ turned the connection away at once: the helper there already serves four clients.";
constexpr const char* kSilentLead = "Helper installed, but the program on @ sent no line within ";
constexpr const char* kInstalledText =
    "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real CPU "
    "temperature and GPU utilization.";
constexpr const char* kEarlierStaysText = "\n\nThe earlier helper stays installed as it was.";
constexpr const char* kEarlierBackText =
    "\n\nThe new helper was taken out again: the earlier one is installed as it was.";
constexpr const char* kEarlierRunsText =
    "\n\nThe new helper was taken out again: the earlier one is installed and running as it was.";
constexpr const char* kEarlierStoppedLead =
    "\n\nThe new helper was taken out again and the earlier one put back, but it did not start again: ";
constexpr const char* kEarlierLostLead = "\n\nThe earlier helper could not be put back:\n";
constexpr const char* kUninstalledText =
    "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.";
constexpr const char* kNotInstalledText = "Sensor Helper is not installed: there is nothing to uninstall.";

// The text with "@" replaced by the address the helper listens on.
std::string atHelperAddress(std::string text) {
  return text.replace(text.find('@'), 1, "127.0.0.1:" + std::to_string(kHelperPort));
}

// The helper's line exactly: four figures, none negative or beyond every
// number (its readings never are), that the helper's own format writes back
// byte for byte. pelagrin-sensors judges a line by the same rule.
bool isTelemetryLine(const std::string& line) {
  float figures[4] = {};
  if (std::sscanf(line.c_str(), "{\"cpuTemp\":%f,\"cpuTempAvg\":%f,\"gpuTemp\":%f,\"gpuUtil\":%f}", &figures[0],
                  &figures[1], &figures[2], &figures[3]) != 4)
    return false;
  for (const float figure : figures)
    if (!std::isfinite(figure) || std::signbit(figure)) return false;
  char written[256];
  const int size = std::snprintf(written, sizeof written,
                                 "{\"cpuTemp\":%.1f,\"cpuTempAvg\":%.1f,\"gpuTemp\":%.1f,\"gpuUtil\":%.3f}\n",
                                 static_cast<double>(figures[0]), static_cast<double>(figures[1]),
                                 static_cast<double>(figures[2]), static_cast<double>(figures[3]));
  return size > 0 && static_cast<std::size_t>(size) < sizeof written &&
         line == std::string_view(written, static_cast<std::size_t>(size));
}

// Whether launchd's list of the user's agents shows the label turned off: a
// line `"label" => disabled`, or `=> true` before macOS 13. The text is no
// stable interface, so the spacing is free and both words count.
bool listsAsTurnedOff(const std::string& listing, const std::string& label) {
  const std::string quoted = "\"" + label + "\"";
  for (std::size_t at = listing.find(quoted); at != std::string::npos; at = listing.find(quoted, at + 1)) {
    const std::size_t from = at + quoted.size();
    std::istringstream words(listing.substr(from, listing.find('\n', from) - from));
    std::string arrow;
    std::string state;
    std::string more;
    words >> arrow >> state;
    if (arrow == "=>" && (state == "disabled" || state == "true") && !(words >> more)) return true;
  }
  return false;
}

// codesign --verify alone passes any valid signature, ad hoc or anyone's: the
// copy must be our helper, and signed by the installer's own team where the
// installer has one.
std::string helperRequirement(const CodeSignature& own) {
  std::string requirement = "identifier \"" + std::string(kHelperIdentifier) + "\"";
  if (!own.teamId.empty()) {
    requirement += " and anchor apple generic and certificate leaf[subject.OU] = \"" + own.teamId + "\"";
  }
  return requirement;
}

// Another program's first bytes, with every byte a terminal or an alert could
// act on, or fail to show, written as \xHH.
std::string shownSafely(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char byte : bytes.substr(0, kShownBytes)) {
    const auto code = static_cast<unsigned char>(byte);
    if (code >= 0x20 && code < 0x7f && code != '\\') {
      shown += byte;
    } else {
      shown += {'\\', 'x', kHex[code >> 4], kHex[code & 0xf]};
    }
  }
  return bytes.size() > kShownBytes ? shown + "..." : shown;
}

}  // namespace

InstallerApp::InstallerApp(Platform& platform, AgentSystem system)
    : platform_(platform),
      conventions_(conventionsFor(system)),
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

Outcome InstallerApp::install() {
  const auto helperSourcePath = platform_.pathForResource(binaryName_, kBundleType);
  if (!helperSourcePath) return showError(kMissingHelperText);
  const auto templatePath = platform_.pathForResource(kTemplateBaseName, conventions_.templateType);
  if (!templatePath) return showError(conventions_.missingTemplateText);
  const std::uint32_t userId = platform_.userId();

  // Whatever can fail without touching the earlier helper comes first: the
  // agent file's text made, and the new bundle copied and checked beside it.
  Earlier earlier;
  std::string agentText;
  Failure failure = recordEarlier(userId, earlier);
  if (!failure) failure = filledAgentText(*templatePath, agentText);
  if (!failure) failure = stageHelper(*helperSourcePath, userId);
  // A new helper started beside an old one could not bind, so an old helper
  // that would not stop ends the install before anything is replaced.
  if (!failure) failure = stopEarlierHelper(userId);
  if (failure) {
    platform_.removeItem(stagedBundlePath());
    return showError(*failure + (earlier.bundle || earlier.binary ? kEarlierStaysText : ""));
  }

  bool started = false;
  failure = swapInStagedHelper(earlier);
  if (!failure) failure = writeAgentFile(agentText);
  if (!failure) {
    started = true;
    failure = startHelper(userId);
  }
  if (!failure) {
    platform_.removeItem(earlierBundlePath());
    platform_.removeItem(earlierBinaryPath());
    return showSuccess(kInstalledText);
  }
  // A first install that only failed to start stays, as its text says: the
  // next login may start it.
  if (started && !earlier.bundle && !earlier.binary) return showError(*failure);
  return showError(*failure + rollBack(earlier, started, userId));
}

InstallerApp::Failure InstallerApp::recordEarlier(std::uint32_t userId, Earlier& earlier) {
  earlier.bundle = !platform_.isGone(bundlePath());
  earlier.binary = !platform_.isGone(binaryPath());
  if (!platform_.isGone(plistPath())) {
    std::string text;
    if (const FileError error = platform_.readTextFile(plistPath(), text))
      return conventions_.installAgentLead + *error;
    earlier.agentText = std::move(text);
  }
  earlier.running = run(conventions_.helperRuns, userId) == kHelperRuns;
  return std::nullopt;
}

InstallerApp::Failure InstallerApp::stageHelper(const std::string& helperSourcePath, std::uint32_t userId) {
  if (const FileError error = platform_.createDirectory(installDir_)) return kCreateDirectoryLead + *error;
  platform_.removeItem(stagedBundlePath());  // left by an install that was cut short
  if (const FileError error = platform_.copyItem(helperSourcePath, stagedBundlePath())) {
    return kCopyHelperLead + *error;
  }
  return clearDownloadMark(stagedBundlePath(), userId);
}

// A browser marks every file it downloads, the copy keeps the mark, and launchd
// refuses to run a marked helper. The mark comes off only a copy whose
// signature shows it is the helper we shipped.
InstallerApp::Failure InstallerApp::clearDownloadMark(const std::string& bundle, std::uint32_t userId) {
  if (conventions_.signatureCheck) {
    const CodeSignature own = platform_.ownSignature();
    AgentCommand check = *conventions_.signatureCheck;
    std::replace(check.arguments.begin(), check.arguments.end(), std::string(kBundlePath), bundle);
    std::replace(check.arguments.begin(), check.arguments.end(), std::string(kRequirement),
                 "-R=" + helperRequirement(own));
    const int status = run(check, userId);
    const char* advice = own.identifier == kInstallerIdentifier ? kBadSignatureAdvice : kUnsignedBuildAdvice;
    if (status != 0) return kBadSignatureLead + std::to_string(status) + advice;
  }
  if (const FileError error = platform_.removeDownloadMark(bundle)) return kDownloadMarkLead + *error;
  return std::nullopt;
}

InstallerApp::Failure InstallerApp::filledAgentText(const std::string& templatePath, std::string& filled) {
  std::string text;
  FileError error = platform_.readTextFile(templatePath, text);
  if (!error) error = fillInstallPath(text, installDir_, conventions_.templateFormat, filled);
  if (error) return conventions_.installAgentLead + *error;
  return std::nullopt;
}

InstallerApp::Failure InstallerApp::stopEarlierHelper(std::uint32_t userId) {
  if (const Failure failure = runStopCommands(userId)) return failure;
  // Lets the old process let go of the port and its files before they are replaced.
  platform_.sleepFor(kStopGraceSeconds);
  return awaitHelperGone(userId);
}

// Renames within one folder: the earlier helper moves aside whole, and the new
// bundle, already whole, takes its place.
InstallerApp::Failure InstallerApp::swapInStagedHelper(const Earlier& earlier) {
  FileError error;
  if (earlier.bundle) {
    platform_.removeItem(earlierBundlePath());  // left by an install that was cut short
    error = platform_.moveItem(bundlePath(), earlierBundlePath());
  }
  if (!error && earlier.binary) {
    platform_.removeItem(earlierBinaryPath());
    error = platform_.moveItem(binaryPath(), earlierBinaryPath());
  }
  if (!error) error = platform_.moveItem(stagedBundlePath(), bundlePath());
  if (error) return kCopyHelperLead + *error;
  return std::nullopt;
}

InstallerApp::Failure InstallerApp::writeAgentFile(const std::string& filled) {
  FileError error = platform_.createDirectory(plistDir_);
  if (!error) error = platform_.writeTextFileAtomically(plistPath(), filled);
  if (error) return conventions_.installAgentLead + *error;
  return std::nullopt;
}

// Takes out what this install put in and puts back what it found, the earlier
// helper started again where one ran; says what came of it, or nothing where
// nothing was installed before.
std::string InstallerApp::rollBack(const Earlier& earlier, bool started, std::uint32_t userId) {
  if (started) {
    Failure stopFailure = runStopCommands(userId);
    if (!stopFailure) stopFailure = awaitHelperGone(userId);
    if (stopFailure) return kEarlierLostLead + *stopFailure;
  }
  platform_.removeItem(stagedBundlePath());
  FileError error;
  // An earlier bundle that was never moved aside is still in its place.
  if (!earlier.bundle || !platform_.isGone(earlierBundlePath())) error = platform_.removeItem(bundlePath());
  if (!error && earlier.bundle && !platform_.isGone(earlierBundlePath())) {
    error = platform_.moveItem(earlierBundlePath(), bundlePath());
  }
  if (!error && earlier.binary && !platform_.isGone(earlierBinaryPath())) {
    error = platform_.moveItem(earlierBinaryPath(), binaryPath());
  }
  // Only a started install wrote the agent file; a failed write leaves the earlier one as it was.
  if (!error && started) {
    if (earlier.agentText) error = platform_.writeTextFileAtomically(plistPath(), *earlier.agentText);
    else if (!platform_.isGone(plistPath())) error = platform_.removeItem(plistPath());
  }
  if (error) return kEarlierLostLead + *error;
  if (!earlier.bundle && !earlier.binary) return "";
  if (!earlier.running) return kEarlierBackText;
  if (const Failure failure = startHelper(userId)) return kEarlierStoppedLead + *failure;
  return kEarlierRunsText;
}

// The user's choice in Login Items stands: a label turned off there is never
// started, and never turned back on.
InstallerApp::Failure InstallerApp::startHelper(std::uint32_t userId) {
  if (isTurnedOff(userId)) return kTurnedOffText;
  int failedStatus = 0;
  for (const AgentCommand& command : conventions_.startCommands) {
    int status = runStart(command, userId);
    bool turnedOff = isRefusedAsTurnedOff(status, userId);
    if (!turnedOff && status == conventions_.turnedOffOrStillGoingStatus) {
      awaitAgentGone(userId);
      status = runStart(command, userId);
      turnedOff = isRefusedAsTurnedOff(status, userId);
    }
    if (turnedOff) return kTurnedOffText;
    // load exits 0 even where it loaded nothing, so a fallback's 0 counts
    // only while the system holds the job.
    if (status == 0 && (failedStatus == 0 || isAgentHeld(userId))) return proveHelperServes(userId);
    if (status != 0) failedStatus = status;
  }
  // launchd does not always list a label turned off, and answers 5 for it then too.
  const bool maybeTurnedOff = failedStatus == conventions_.turnedOffOrStillGoingStatus;
  return conventions_.startFailureLead + std::to_string(failedStatus) +
         (maybeTurnedOff ? kMaybeTurnedOffAdvice : kStartFailureAdvice);
}

// A list that cannot be read turns nothing off: the start's own answer is read next.
bool InstallerApp::isTurnedOff(std::uint32_t userId) {
  std::string listing;
  return conventions_.agentStates && run(*conventions_.agentStates, userId, &listing) == 0 &&
         listsAsTurnedOff(listing, plistName_);
}

bool InstallerApp::isRefusedAsTurnedOff(int status, std::uint32_t userId) {
  if (status == conventions_.turnedOffStatus) return true;
  return status == conventions_.turnedOffOrStillGoingStatus && isTurnedOff(userId);
}

bool InstallerApp::isAgentHeld(std::uint32_t userId) {
  return !conventions_.agentHeld || run(*conventions_.agentHeld, userId) == 0;
}

// Only print's exit status is read: its text is no stable interface.
void InstallerApp::awaitAgentGone(std::uint32_t userId) {
  if (!conventions_.agentHeld) return;
  for (double waited = 0; waited < kAgentGoneSeconds && isAgentHeld(userId); waited += kStopCheckSeconds) {
    platform_.sleepFor(kStopCheckSeconds);
  }
}

// launchctl and setsid only say that the helper was handed over; it may still
// exit at once (the port taken, a home that cannot run programs). Its own
// line, while the system's socket table shows that this user's helper is the
// one on the port, is the proof: another user's program can send the same line.
InstallerApp::Failure InstallerApp::proveHelperServes(std::uint32_t userId) {
  const PortReply reply = platform_.readLoopbackLine(kHelperPort, kFirstLineSeconds, kReplyBytes);
  if (!reply.connected) return atHelperAddress(kNothingListensText);
  const PortHolder holder = platform_.portHolder(kHelperPort);
  // Up to the first line feed, with it; nothing where none came.
  const bool isLine = isTelemetryLine(reply.received.substr(0, reply.received.find('\n') + 1));
  const std::string answered = isLine || reply.received.empty() ? "" : shownSafely(reply.received);
  switch (holder.kind) {
    case PortHolder::Kind::Nobody: return atHelperAddress(kNothingListensText);
    case PortHolder::Kind::CannotTell: return atHelperAddress(kCannotTellLead) + holder.reason + ".";
    case PortHolder::Kind::ThisUser:
    case PortHolder::Kind::OtherUser: break;
  }
  if (holder.uid != userId || holder.program != binaryName_) {
    const std::string said = answered.empty() ? "" : " It answered \"" + answered + "\".";
    return atHelperAddress(kHeldByLead) + describe(holder) + "." + said;
  }
  if (isLine) return std::nullopt;
  if (!answered.empty()) return kOddAnswerLead + answered + "\".";
  // The helper closes a fifth client at once, without a word.
  if (reply.closedByPeer) return atHelperAddress(kFourClientsText);
  return atHelperAddress(kSilentLead) + std::to_string(kFirstLineSeconds) + " seconds of its start.";
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
