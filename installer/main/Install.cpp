#include <algorithm>

#include "AgentConventions.h"
#include "HelperInstaller.h"
#include "InstallerTexts.h"

// The install procedure: whatever can fail comes before the earlier helper is
// touched, and a failure after that puts back what was there.

namespace {

constexpr const char* kTemplateBaseName = "app.pelagrin.helper";
constexpr const char* kBundleType = "app";
// Lets the old process let go of the port and its files before they are replaced.
constexpr double kStopGraceSeconds = 1.5;

}  // namespace

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
