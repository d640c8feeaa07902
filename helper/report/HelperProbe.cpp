#include "HelperProbe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "EscapedText.h"
#include "protocol/Stream.h"
#include "protocol/Telemetry.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWait = std::chrono::milliseconds(2500);  // one 2 s cycle and a margin
constexpr std::size_t kMostBytes = 256;                  // more than any telemetry line
constexpr std::size_t kBytesShown = 64;
constexpr const char* kHelperProgram = "PelagrinHelper";

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// True when `events` came on `fd` before the deadline.
bool ready(int fd, short events, Clock::time_point deadline) {
  pollfd waiting{.fd = fd, .events = events, .revents = 0};
  return poll(&waiting, 1, millisecondsLeft(deadline)) > 0;
}

// The helper's own line: four figures, none negative or beyond every number
// (its readings never are), that its formatter gives back byte for byte. The
// installer judges a line by the same rule.
bool isTelemetryLine(const std::string& line) {
  float figures[4] = {};
  if (std::sscanf(line.c_str(), "{\"cpuTemp\":%f,\"cpuTempAvg\":%f,\"gpuTemp\":%f,\"gpuUtil\":%f}", &figures[0],
                  &figures[1], &figures[2], &figures[3]) != 4)
    return false;
  for (const float figure : figures)
    if (!std::isfinite(figure) || std::signbit(figure)) return false;
  const TelemetryLine formatted = formatTelemetryLine(figures[0], figures[1], figures[2], figures[3]);
  return line == std::string(formatted.bytes, formatted.size);
}

HelperAnswer notRunning(int error) {
  if (error == ECONNREFUSED)
    return {.state = HelperState::NotRunning, .line = {}, .detail = "nothing listens on " + listenEndpoint()};
  return {
      .state = HelperState::NotRunning, .line = {}, .detail = std::string("cannot connect: ") + std::strerror(error)};
}

HelperAnswer silent() {
  return {.state = HelperState::Silent, .line = {}, .detail = "connected, but no line within 2.5 s"};
}

HelperAnswer reset() { return {.state = HelperState::Reset, .line = {}, .detail = "the connection was reset"}; }

// A listener whose queue of connections is full lets a new one wait unanswered.
HelperAnswer notAccepted() {
  return {.state = HelperState::NotAccepted, .line = {}, .detail = "the connection was not accepted within 2.5 s"};
}

static_assert(kMaxClients == 4, "a full helper's detail names the limit in words");

// What arrived before a line feed, the end of the connection, or the deadline.
HelperAnswer answerFrom(const std::string& received, bool closed) {
  if (received.empty())
    return closed ? HelperAnswer{.state = HelperState::Full,
                                 .line = {},
                                 .detail = "the helper already serves four clients"}
                  : silent();
  const std::string line = received.substr(0, received.find('\n') + 1);
  if (isTelemetryLine(line)) return {.state = HelperState::Serving, .line = line, .detail = "sent its telemetry line"};
  return {.state = HelperState::NotTheHelper, .line = {}, .detail = "sent " + quoted(received.substr(0, kBytesShown))};
}

HelperAnswer askOver(int fd, Clock::time_point deadline) {
  sockaddr_in helper{};
  helper.sin_family = AF_INET;
  helper.sin_port = htons(kPort);
  helper.sin_addr.s_addr = inet_addr(kListenAddress);
  if (fcntl(fd, F_SETFL, O_NONBLOCK) != 0) return notRunning(errno);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&helper), sizeof helper) != 0 && errno != EINPROGRESS)
    return notRunning(errno);
  if (!ready(fd, POLLOUT, deadline)) return notAccepted();
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error == ECONNRESET) return reset();
  if (error != 0) return notRunning(error);
  std::string received;
  bool closed = false;
  bool wasReset = false;
  while (!closed && received.find('\n') == std::string::npos && received.size() < kMostBytes &&
         ready(fd, POLLIN, deadline)) {
    char buffer[kMostBytes];
    const ssize_t got = recv(fd, buffer, kMostBytes - received.size(), 0);
    if (got > 0) received.append(buffer, static_cast<std::size_t>(got));
    wasReset = got < 0 && errno == ECONNRESET;
    closed = got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
  }
  if (wasReset && received.empty()) return reset();
  return answerFrom(received, closed);
}

// The helper's line vouches for nothing by itself: the holder must be a PelagrinHelper.
HelperAnswer judgedByHolder(HelperAnswer answer, const PortHolder& holder) {
  answer.holder = holder;
  if (answer.state != HelperState::Serving) return answer;
  const bool known = holder.kind == PortHolder::Kind::ThisUser || holder.kind == PortHolder::Kind::OtherUser;
  if (known && holder.program == kHelperProgram) {
    if (holder.kind == PortHolder::Kind::OtherUser) answer.detail += ", as " + describe(holder) + ", not yours";
    return answer;
  }
  answer.line.reset();
  answer.state = known && holder.program ? HelperState::NotTheHelper : HelperState::Unconfirmed;
  answer.detail = "sent the helper's line, but the port is held by " + describe(holder);
  return answer;
}

}  // namespace

HelperAnswer askHelper() {
  const Clock::time_point deadline = Clock::now() + kWait;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return notRunning(errno);
  HelperAnswer answer = askOver(fd, deadline);
  close(fd);
  if (answer.state == HelperState::NotRunning) return answer;
  return judgedByHolder(answer, whoListens(kPort));
}

const char* words(HelperState state) {
  switch (state) {
    case HelperState::Serving: return "serving";
    case HelperState::NotRunning: return "not running";
    case HelperState::Full: return "full";
    case HelperState::Silent: return "silent";
    case HelperState::Reset: return "reset";
    case HelperState::NotAccepted: return "not accepted";
    case HelperState::NotTheHelper: return "not the helper";
    case HelperState::Unconfirmed: return "unconfirmed";
  }
  return "";
}
