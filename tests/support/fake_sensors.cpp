// A scriptable sensor module for the service's test build.
//
// PELAGRIN_FAKE_SENSORS names a file of lines "cpuTemp cpuTempAvg gpuTemp gpuUtil",
// one per cycle, the last repeated for ever. With PELAGRIN_FAKE_COUNTER set, the
// utilization instead carries the cycle number (n % 1000) / 1000, so a reader can
// tell whether it missed or repeated a cycle. Without either, every reading is 0.
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SystemHelper.h"

namespace {

using Sample = std::array<float, 4>;

std::vector<Sample> loadScript() {
  std::vector<Sample> script;
  if (const char* path = std::getenv("PELAGRIN_FAKE_SENSORS")) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      Sample sample{};
      if (fields >> sample[0] >> sample[1] >> sample[2] >> sample[3]) script.push_back(sample);
    }
  }
  if (script.empty()) script.push_back(Sample{});
  return script;
}

struct Cycle {
  std::vector<Sample> script = loadScript();
  bool counter = std::getenv("PELAGRIN_FAKE_COUNTER") != nullptr;
  unsigned long number = 0;
  Sample current{};
};

Cycle& cycle() {
  static Cycle state;
  return state;
}

}  // namespace

// The loop always asks for the CPU temperature first, so it starts a new cycle.
float SystemHelper_getCPUTemperature() {
  Cycle& c = cycle();
  c.current = c.script[std::min<std::size_t>(c.number, c.script.size() - 1)];
  if (c.counter) c.current[3] = static_cast<float>(c.number % 1000) / 1000.0f;
  ++c.number;
  return c.current[0];
}
float SystemHelper_getCPUTemperatureAvg() { return cycle().current[1]; }
float SystemHelper_getGPUTemperature() { return cycle().current[2]; }
float SystemHelper_getGPUUtilization() { return cycle().current[3]; }
