#include "platform/SensorPlatform.h"
#include "platform/linux/DrmWalk.h"
#include "platform/linux/HwmonWalk.h"
#include "platform/linux/NvmlSession.h"
#include "platform/linux/NvmlWalk.h"
#include "platform/linux/SensorRoots.h"

namespace {

NvmlSession& nvml() {
  static NvmlSession session(sensorRoots().nvmlLibrary);
  return session;
}

}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  walkHwmon(sensorRoots().sysfs, yield);
  if (const NvmlApi* api = nvml().api()) walkNvmlSensors(*api, sensorRoots().sysfs, yield);
}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  walkDrmCards(sensorRoots().sysfs, yield);
  if (const NvmlApi* api = nvml().api()) walkNvmlAccelerators(*api, sensorRoots().sysfs, yield);
}
