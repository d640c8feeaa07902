#include <cmath>
#include <cstdio>
#include <string_view>

#include "AgentConventions.h"
#include "HelperInstaller.h"
#include "InstallerTexts.h"

// The helper's start, and the proof that it serves: the user's choice in Login
// Items read first, and the helper's own line from the listener the socket
// table names.

namespace {

// bootout returns before launchd has let go of the job.
constexpr double kAgentGoneSeconds = 5;
constexpr std::uint16_t kHelperPort = 27830;
// The helper sends a line every 2 s, the first as soon as it listens; a client
// that connects just after a send waits a whole cycle.
constexpr int kFirstLineSeconds = 5;
// A telemetry line is under 100 bytes.
constexpr std::size_t kReplyBytes = 256;
constexpr std::size_t kShownBytes = 80;

// The text with every kHelperAddress replaced by the address the helper listens on.
std::string withHelperAddress(std::string text) {
  const std::string placeholder = kHelperAddress;
  const std::string address = "127.0.0.1:" + std::to_string(kHelperPort);
  for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
    text.replace(at, placeholder.size(), address);
    at += address.size();
  }
  return text;
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
  if (!reply.connected) return withHelperAddress(kNothingListensText);
  const PortHolder holder = platform_.whoListens(kHelperPort);
  // Up to the first line feed, with it; nothing where none came.
  const bool isLine = isTelemetryLine(reply.received.substr(0, reply.received.find('\n') + 1));
  const std::string answered = isLine || reply.received.empty() ? "" : shownSafely(reply.received);
  switch (holder.kind) {
    case PortHolder::Kind::Nobody: return withHelperAddress(kNothingListensText);
    case PortHolder::Kind::CannotTell: return withHelperAddress(kCannotTellLead) + holder.reason + ".";
    case PortHolder::Kind::ThisUser:
    case PortHolder::Kind::OtherUser: break;
  }
  if (holder.uid != userId || holder.program != binaryName_) {
    const std::string said = answered.empty() ? "" : " It answered \"" + answered + "\".";
    return withHelperAddress(kHeldByLead) + describe(holder) + "." + said;
  }
  if (isLine) return std::nullopt;
  if (!answered.empty()) return kOddAnswerLead + answered + "\".";
  // The helper closes a fifth client at once, without a word.
  if (reply.closedByPeer) return withHelperAddress(kFourClientsText);
  return withHelperAddress(kSilentLead) + std::to_string(kFirstLineSeconds) + " seconds of its start.";
}
