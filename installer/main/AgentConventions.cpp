#include "AgentConventions.h"

#include <sstream>

namespace {

constexpr const char* kLaunchctl = "/bin/launchctl";
constexpr const char* kPgrep = "/usr/bin/pgrep";

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

}  // namespace

const AgentConventions& conventionsFor(AgentSystem system) {
  return system == AgentSystem::Launchd ? kLaunchdConventions : kXdgConventions;
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
