// On a Mac: the real IOKit walks, 300 cycles' worth. Every reading is 0 or in
// range, and, run under leaks(1), nothing a walk made outlives it. It prints
// the median CPU time of one cycle's walks (three thermal walks and one
// accelerator walk): what the helper costs a Mac every cycle, measurable only
// there.
#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "SystemHelper.h"

namespace {

constexpr int kCycles = 300;

double threadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

bool inRange(float celsius) { return celsius == 0.0f || (celsius > 0.0f && celsius <= 150.0f); }

}  // namespace

int main() {
  std::array<double, kCycles> cycleMicroseconds{};
  for (double& spent : cycleMicroseconds) {
    const double before = threadCpuMicroseconds();
    const std::array<float, 3> temperatures{SystemHelper_getCPUTemperature(), SystemHelper_getCPUTemperatureAvg(),
                                            SystemHelper_getGPUTemperature()};
    const float utilization = SystemHelper_getGPUUtilization();
    spent = threadCpuMicroseconds() - before;
    if (!std::all_of(temperatures.begin(), temperatures.end(), inRange) ||
        !(utilization >= 0.0f && utilization <= 1.0f)) {
      std::fprintf(stderr, "out of range: %.1f %.1f %.1f degrees, utilization %.3f\n",
                   static_cast<double>(temperatures[0]), static_cast<double>(temperatures[1]),
                   static_cast<double>(temperatures[2]), static_cast<double>(utilization));
      return 1;
    }
  }
  const auto median = cycleMicroseconds.begin() + kCycles / 2;
  std::nth_element(cycleMicroseconds.begin(), median, cycleMicroseconds.end());
  std::printf("median CPU time of one cycle's walks (3 thermal, 1 accelerator) over %d cycles: %.1f us\n", kCycles,
              *median);
  return 0;
}
