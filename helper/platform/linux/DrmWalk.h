#pragma once

#include <string>

#include "platform/SensorPlatform.h"

// Yields every <sysfsRoot>/class/drm/card<N> as the accelerator "card<N>";
// one with a readable device/gpu_busy_percent has statistics that hold it as
// "Device Utilization %", a whole number. Suspended cards are skipped.
void walkDrmCards(const std::string& sysfsRoot, const AcceleratorYield& yield);
