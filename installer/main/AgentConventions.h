#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform.h"
#include "TemplateFill.h"

// Each login-agent system's ways: where it keeps things, its commands, and
// the words its errors begin with.

// The placeholders, in the one syntax of the agent templates' own
// "__INSTALL_PATH__": a command's argument that is one is replaced whole,
// and kHelperAddress anywhere in a message.
inline constexpr const char* kAgentTarget = "__AGENT_TARGET__";
inline constexpr const char* kUserDomain = "__USER_DOMAIN__";
inline constexpr const char* kPlistPath = "__PLIST_PATH__";
inline constexpr const char* kUserId = "__USER_ID__";
inline constexpr const char* kBinaryName = "__BINARY_NAME__";
// The bundle under check, which is not yet in its place.
inline constexpr const char* kBundlePath = "__BUNDLE_PATH__";
inline constexpr const char* kHelperProgram = "__HELPER_PROGRAM__";
inline constexpr const char* kRequirement = "__REQUIREMENT__";
inline constexpr const char* kHelperAddress = "__HELPER_ADDRESS__";

// A program and its arguments. An argument that is one of the placeholders
// below is replaced by that value of the run, whole.
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
  // Exits 0 when the copied bundle's code signature satisfies kRequirement;
  // none where the system signs no code.
  std::optional<AgentCommand> signatureCheck;
  const char* missingTemplateText;
  const char* installAgentLead;
  const char* removeAgentLead;
  const char* startFailureLead;
};

const AgentConventions& conventionsFor(AgentSystem system);

// helperRuns' answers.
inline constexpr int kHelperRuns = 0;
inline constexpr int kNoHelperRuns = 1;
// How often a state the system reports is asked again while awaited.
inline constexpr double kStopCheckSeconds = 0.25;

inline constexpr const char* kHelperIdentifier = "app.pelagrin.helper";
// What packaging/sign.sh signs the installer as; a build it has not signed
// carries at most the linker's ad hoc signature, under another identifier.
inline constexpr const char* kInstallerIdentifier = "app.pelagrin.helper-installer";

// Whether launchd's list of the user's agents shows the label turned off: a
// line `"label" => disabled`, or `=> true` before macOS 13. The text is no
// stable interface, so the spacing is free and both words count.
bool listsAsTurnedOff(const std::string& listing, const std::string& label);

// codesign --verify alone passes any valid signature, ad hoc or anyone's: the
// copy must be our helper, and signed by the installer's own team where the
// installer has one.
std::string helperRequirement(const CodeSignature& own);
