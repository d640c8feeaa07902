#pragma once

#include <string>

#include "platform/SensorPlatform.h"
#include "platform/linux/NvmlApi.h"

// Each NVML device i is the temperature service "GPU <i> <device name>"...
void walkNvmlSensors(const NvmlApi& api, const std::string& sysfsRoot, const ThermalYield& yield);

// ...and the accelerator "NVML GPU <i>", whose statistics hold "Device
// Utilization %" as a whole number where the device reports it. Both skip a
// device that is runtime-suspended according to <sysfsRoot>/bus/pci/devices,
// without querying it.
void walkNvmlAccelerators(const NvmlApi& api, const std::string& sysfsRoot, const AcceleratorYield& yield);
