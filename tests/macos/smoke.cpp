// On a Mac: the real IOKit walks, 300 cycles' worth, every reading 0 or in
// range; run under leaks(1), nothing a walk made outlives it. It says what the
// walks found and the median CPU time of one cycle's walks, the helper's cost
// per cycle, unless a walk found nothing (a virtual machine, a hosted runner).
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>

#include "platform/SensorPlatform.h"
#include "sensors/SystemHelper.h"

int main() {
  int services = 0;
  int accelerators = 0;
  platformWalkThermalServices([&services](std::optional<std::string_view>, std::optional<double>) { ++services; });
  platformWalkAccelerators([&accelerators](std::string_view, const StatsTable*) { ++accelerators; });
  std::printf("walks found thermal services: %d, accelerators: %d\n", services, accelerators);
  const bool overNothing = services == 0 || accelerators == 0;
  std::array<double, 300> cycleMicroseconds{};
  for (double& spent : cycleMicroseconds) {
    const std::clock_t before = std::clock();
    const std::array degrees{SystemHelper_getCPUTemperature(), SystemHelper_getCPUTemperatureAvg(),
                             SystemHelper_getGPUTemperature()};
    const float utilization = SystemHelper_getGPUUtilization();
    spent = static_cast<double>(std::clock() - before) * 1e6 / CLOCKS_PER_SEC;
    const bool inRange = std::all_of(degrees.begin(), degrees.end(), [](float c) { return c >= 0.0f && c <= 150.0f; });
    if (!inRange || !(utilization >= 0.0f && utilization <= 1.0f)) {
      std::fprintf(stderr, "out of range: %.1f %.1f %.1f degrees, utilization %.3f\n", degrees[0], degrees[1],
                   degrees[2], utilization);
      return 1;
    }
  }
  const auto median = cycleMicroseconds.begin() + cycleMicroseconds.size() / 2;
  std::nth_element(cycleMicroseconds.begin(), median, cycleMicroseconds.end());
  std::printf("median CPU time of one cycle's walks (3 thermal, 1 accelerator) over %zu cycles: %.0f us%s\n",
              cycleMicroseconds.size(), *median, overNothing ? ", over nothing: not a Mac's cost" : "");
  return 0;
}
