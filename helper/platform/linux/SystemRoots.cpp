#include "platform/linux/SensorRoots.h"

const SensorRoots& sensorRoots() {
  static const SensorRoots machine{.sysfs = "/sys", .nvmlLibrary = "libnvidia-ml.so.1"};
  return machine;
}
