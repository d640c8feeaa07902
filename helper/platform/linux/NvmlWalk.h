#pragma once

#include "platform/SensorPlatform.h"
#include "platform/linux/NvmlApi.h"

// Each NVML device i is the temperature service "GPU <i> <device name>"...
void walkNvmlSensors(const NvmlApi& api, const ThermalYield& yield);

// ...and an accelerator whose statistics hold "Device Utilization %" as a
// whole number.
void walkNvmlAccelerators(const NvmlApi& api, const AcceleratorYield& yield);
