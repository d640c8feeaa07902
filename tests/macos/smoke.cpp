// On a Mac: the real IOKit walks, a few hundred times over. Every reading is 0
// or in range, and, run under leaks(1), nothing a walk made outlives it.
#include <cstdio>
#include <initializer_list>

#include "SystemHelper.h"

int main() {
  for (int sample = 0; sample < 300; ++sample) {
    for (const float t :
         {SystemHelper_getCPUTemperature(), SystemHelper_getCPUTemperatureAvg(), SystemHelper_getGPUTemperature()})
      if (t != 0.0f && !(t > 0.0f && t <= 150.0f)) return std::fprintf(stderr, "temperature %f\n", double{t}), 1;
    if (const float u = SystemHelper_getGPUUtilization(); !(u >= 0.0f && u <= 1.0f))
      return std::fprintf(stderr, "utilization %f\n", double{u}), 1;
  }
  return 0;
}
