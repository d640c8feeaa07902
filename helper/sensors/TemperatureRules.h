#pragma once

#include <optional>
#include <string_view>

#include "ThermalCatalogue.h"

// The rules behind the temperature readings, over a catalogue already taken:
// one implementation for the helper's readings and for the report that
// explains them. The utilization's rule is in UtilizationRules.h.

// The CPU marker a sensor name holds, the first in the order they are tried,
// or none: a CPU sensor is one whose name holds any.
std::optional<std::string_view> cpuMarkerOf(std::string_view name);
// A GPU sensor is one whose name holds "gpu".
bool isGpuSensorName(std::string_view name);

// A CPU figure, and whether it was taken from every sensor because no CPU
// sensor had a reading.
struct CpuFigure {
  float value;
  bool fromAllSensors;
};
CpuFigure cpuTemperatureOf(const ThermalCatalogue& catalogue);
CpuFigure cpuTemperatureAvgOf(const ThermalCatalogue& catalogue);
float gpuTemperatureOf(const ThermalCatalogue& catalogue);
