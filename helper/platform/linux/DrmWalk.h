#pragma once

#include <string>

#include "platform/SensorPlatform.h"

// Yields every <sysfsRoot>/class/drm/card<N> with a readable
// device/gpu_busy_percent as an accelerator whose statistics hold
// "Device Utilization %" as a whole number. Suspended cards are skipped.
void walkDrmCards(const std::string& sysfsRoot, const AcceleratorYield& yield);
