#include "Reader.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <utility>

namespace {

constexpr std::size_t kFaultsKept = 10;
constexpr int kCycleModulus = 1000;
constexpr int kMaxTenths = 1500;
constexpr int kMaxThousandths = 1000;
// Short enough that log lines, which poll cannot wait for, are seen promptly.
constexpr int kServeSliceMs = 5;

int withoutPoint(std::string figure) {
  std::erase(figure, '.');
  return std::stoi(figure);
}

}  // namespace

std::optional<TelemetryFigures> parseTelemetryLine(const std::string& line) {
  // JSON's integer part (no sign, no leading zero) and exactly one decimal.
  static const std::string tenths = R"(((?:0|[1-9]\d?\d?)\.\d))";
  static const std::regex format("\\{\"cpuTemp\":" + tenths + ",\"cpuTempAvg\":" + tenths + ",\"gpuTemp\":" +
                                 tenths + ",\"gpuUtil\":([01]\\.\\d\\d\\d)\\}\n");
  std::smatch match;
  if (!std::regex_match(line, match, format)) return std::nullopt;
  const TelemetryFigures figures{withoutPoint(match[1]), withoutPoint(match[2]), withoutPoint(match[3]),
                                 withoutPoint(match[4])};
  if (std::max({figures[0], figures[1], figures[2]}) > kMaxTenths || figures[kGpuUtil] > kMaxThousandths)
    return std::nullopt;
  return figures;
}

Reader::Reader(TelemetryClient connection, const Expectation& expectation)
    : connection_(std::move(connection)), expectation_(expectation) {
  if (!connection_.connected()) fault("could not connect");
}

void Reader::take() {
  char chunk[8192];
  for (;;) {
    const ssize_t count = recv(fd(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (count > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count == 0 || errno != EAGAIN) hungUp_ = true;
    break;
  }
  std::size_t newline;
  while ((newline = buffer_.find('\n')) != std::string::npos) {
    check(buffer_.substr(0, newline + 1));
    buffer_.erase(0, newline + 1);
  }
}

void Reader::check(const std::string& line) {
  ++lines_;
  std::optional<TelemetryFigures> figures = parseTelemetryLine(line);
  if (!figures) return fault("malformed line: " + line);
  const int cycle = (*figures)[kGpuUtil];
  if (expectation_.counting) (*figures)[kGpuUtil] = 0;
  if (expectation_.figures && *figures != *expectation_.figures) fault("wrong figures: " + line);
  if (!expectation_.counting) return;
  if (lastCycle_ && cycle != (*lastCycle_ + 1) % kCycleModulus)
    fault("cycle " + std::to_string(cycle) + " after " + std::to_string(*lastCycle_));
  if (!firstCycle_) firstCycle_ = cycle;
  lastCycle_ = cycle;
}

void Reader::fault(const std::string& what) {
  if (faults_.size() < kFaultsKept) faults_.push_back(what);
}

void serveReaders(const std::vector<Reader*>& readers, int timeoutMs) {
  std::vector<pollfd> fds;
  for (const Reader* reader : readers) fds.push_back({reader->fd(), POLLIN, 0});
  if (poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  for (std::size_t i = 0; i < readers.size(); ++i)
    if (fds[i].revents != 0) readers[i]->take();
}

bool serveUntil(const std::vector<Reader*>& readers, const std::function<bool()>& done, int timeoutMs) {
  const long long deadline = monotonicMs() + timeoutMs;
  while (!done()) {
    if (monotonicMs() >= deadline) return false;
    serveReaders(readers, kServeSliceMs);
  }
  return true;
}
