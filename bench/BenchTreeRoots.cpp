// The benchmarks' sensors: the generated tree, and no NVML, so that only the
// tree is measured.
#include "platform/linux/SensorRoots.h"

const SensorRoots& sensorRoots() {
  static const SensorRoots roots{.sysfs = PELAGRIN_BENCH_TREE, .nvmlLibrary = PELAGRIN_BENCH_NO_NVML};
  return roots;
}
