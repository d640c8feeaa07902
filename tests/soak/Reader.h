#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HelperProcess.h"

// One telemetry line's figures as printed: cpuTemp, cpuTempAvg and gpuTemp in
// tenths of a degree, gpuUtil in thousandths of full load.
using TelemetryFigures = std::array<int, 4>;
constexpr std::size_t kGpuUtil = 3;

// Accepts only the helper's exact line: the four members in order, no white
// space, fixed decimals within range, and one closing line feed.
std::optional<TelemetryFigures> parseTelemetryLine(const std::string& line);

// What every line must show beyond its format.
struct Expectation {
  std::optional<TelemetryFigures> figures;
  // With the counting fake sensors gpuUtil carries the helper's cycle number
  // modulo 1000, so each line must follow the one before it; `figures` then
  // holds 0 there.
  bool counting = false;
};

// A client that keeps reading and checks every line it gets.
class Reader {
 public:
  Reader(TelemetryClient connection, const Expectation& expectation);

  int fd() const { return connection_.fd(); }
  // Reads whatever has arrived, without waiting, and checks each whole line.
  void take();
  void close() { connection_.close(); }

  long lines() const { return lines_; }
  // The cycle number of the first line (counting sensors only).
  std::optional<int> firstCycle() const { return firstCycle_; }
  bool hungUp() const { return hungUp_; }
  const std::vector<std::string>& faults() const { return faults_; }

 private:
  void check(const std::string& line);
  void fault(const std::string& what);

  TelemetryClient connection_;
  Expectation expectation_;
  std::string buffer_;
  long lines_ = 0;
  std::optional<int> firstCycle_;
  std::optional<int> lastCycle_;
  bool hungUp_ = false;
  std::vector<std::string> faults_;
};

// Waits up to `timeoutMs` for data on any of `readers`, then lets each take it.
void serveReaders(const std::vector<Reader*>& readers, int timeoutMs);

// Serves `readers` until `done` holds; false when `timeoutMs` ran out first.
bool serveUntil(const std::vector<Reader*>& readers, const std::function<bool()>& done, int timeoutMs);
