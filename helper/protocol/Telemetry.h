#pragma once

#include <cstddef>

// One telemetry line, formatted once per cycle and shared by every client.
struct TelemetryLine {
  char bytes[256];  // in-range readings need at most 69 bytes; room for any float
  std::size_t size;
};

// {"cpuTemp":%.1f,"cpuTempAvg":%.1f,"gpuTemp":%.1f,"gpuUtil":%.3f} and a line
// feed, each reading widened to double, always with a full stop for the decimal.
TelemetryLine formatTelemetryLine(float cpuTemp, float cpuTempAvg, float gpuTemp, float gpuUtil);
