#include "platform/SensorPlatform.h"
#include "platform/linux/DrmWalk.h"
#include "platform/linux/HwmonWalk.h"
#include "platform/linux/NvmlSession.h"
#include "platform/linux/NvmlWalk.h"

// Test builds point these at a fixture tree and a fake library; the shipped
// helper reads the machine's own.
#ifndef PELAGRIN_SYSFS_ROOT
#define PELAGRIN_SYSFS_ROOT "/sys"
#endif
#ifndef PELAGRIN_NVML_LIBRARY
#define PELAGRIN_NVML_LIBRARY "libnvidia-ml.so.1"
#endif

namespace {

NvmlSession& nvml() {
  static NvmlSharedLibrary library(PELAGRIN_NVML_LIBRARY);
  static NvmlSession session(library);
  return session;
}

}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  walkHwmon(PELAGRIN_SYSFS_ROOT, yield);
  if (const NvmlApi* api = nvml().api()) walkNvmlSensors(*api, PELAGRIN_SYSFS_ROOT, yield);
}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  walkDrmCards(PELAGRIN_SYSFS_ROOT, yield);
  if (const NvmlApi* api = nvml().api()) walkNvmlAccelerators(*api, PELAGRIN_SYSFS_ROOT, yield);
}
