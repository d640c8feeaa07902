#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HelperProcess.h"
#include "TelemetryLineParser.h"

// What every line must show beyond its format.
struct Expectation {
  // The exact figures; with `counting`, those of the temperatures only
  // (gpuUtil 0 here).
  std::optional<TelemetryFigures> figures;
  // gpuUtil carries the helper's cycle number modulo 1000 (the counting fake
  // sensors), so each line must follow the one before it.
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
