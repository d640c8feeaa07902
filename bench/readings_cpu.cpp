// The four readings bound exactly as the shipped helper binds them (sysfs at
// /sys, the machine's own NVML), so they can be set beside another tool over a
// tree mounted there. Takes N samples (argument, default 1) in this process and
// prints the median CPU time of one sample and what the last sample read; with
// N = 1 the process as a whole is one sample, start-up included.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sensors/SystemHelper.h"

namespace {

long long threadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = std::max(1, argc > 1 ? std::atoi(argv[1]) : 1);
  std::vector<long long> costs;
  float readings[4] = {};
  for (int sample = 0; sample < samples; ++sample) {
    const long long start = threadCpuNs();
    readings[0] = SystemHelper_getCPUTemperature();
    readings[1] = SystemHelper_getCPUTemperatureAvg();
    readings[2] = SystemHelper_getGPUTemperature();
    readings[3] = SystemHelper_getGPUUtilization();
    costs.push_back(threadCpuNs() - start);
  }
  const auto middle = costs.begin() + static_cast<long>(costs.size() / 2);
  std::nth_element(costs.begin(), middle, costs.end());
  std::printf("sample_cpu_us %.1f\ncpuTemp %.1f\ncpuTempAvg %.1f\ngpuTemp %.1f\ngpuUtil %.3f\n",
              static_cast<double>(*middle) / 1000.0, static_cast<double>(readings[0]), static_cast<double>(readings[1]),
              static_cast<double>(readings[2]), static_cast<double>(readings[3]));
  return 0;
}
