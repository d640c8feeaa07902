// On a Mac: the real IOKit walks, a few hundred times over. Every reading is 0
// or in range, and, run under leaks(1), nothing a walk made outlives it.
#include <cstdio>

#include "SystemHelper.h"

int main() {
  for (int sample = 0; sample < 300; ++sample) {
    const float temperatures[] = {SystemHelper_getCPUTemperature(), SystemHelper_getCPUTemperatureAvg(),
                                  SystemHelper_getGPUTemperature()};
    for (const float t : temperatures) {
      if (t != 0.0f && !(t > 0.0f && t <= 150.0f)) return std::fprintf(stderr, "temperature %f\n", double{t}), 1;
    }
    const float utilization = SystemHelper_getGPUUtilization();
    if (!(utilization >= 0.0f && utilization <= 1.0f)) return std::fprintf(stderr, "utilization %f\n", double{utilization}), 1;
  }
  return 0;
}
