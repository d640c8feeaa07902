// The test builds' sensors: the sysfs tree and the NVML library that a test
// names in PELAGRIN_TEST_SYSFS and PELAGRIN_TEST_NVML. Either unset is a
// mistake in the test, which must not read as a machine without sensors.
#include <cstdio>
#include <cstdlib>

#include "platform/linux/SensorRoots.h"

namespace {

const char* required(const char* variable) {
  const char* value = std::getenv(variable);
  if (value != nullptr) return value;
  std::fprintf(stderr, "%s is not set: a test build reads its sensors where the test says\n", variable);
  std::exit(2);
}

}  // namespace

const SensorRoots& sensorRoots() {
  static const SensorRoots roots{.sysfs = required("PELAGRIN_TEST_SYSFS"),
                                 .nvmlLibrary = required("PELAGRIN_TEST_NVML")};
  return roots;
}
