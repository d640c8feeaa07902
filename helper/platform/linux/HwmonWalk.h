#pragma once

#include <string>

#include "platform/SensorPlatform.h"

// Yields every <sysfsRoot>/class/hwmon/hwmon*/tempN_input as one temperature
// service, named "CPU coretemp Package id 0", "amdgpu edge", "nvme Composite"...
// Chips of suspended devices are skipped.
void walkHwmon(const std::string& sysfsRoot, const ThermalYield& yield);
