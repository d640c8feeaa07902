#pragma once

#include <optional>
#include <string_view>

// The four figures of one telemetry line, as printed: temperatures in tenths
// of a degree, utilization in thousandths of full load.
struct TelemetryFigures {
  int cpuTempTenths;
  int cpuTempAvgTenths;
  int gpuTempTenths;
  int gpuUtilThousandths;
  bool operator==(const TelemetryFigures&) const = default;
};

// Accepts only the helper's exact line: one JSON object with the four members
// in order, no white space, fixed-point figures within their ranges (0.0 to
// 150.0, 0.000 to 1.000), and one closing line feed with nothing after it.
std::optional<TelemetryFigures> parseTelemetryLine(std::string_view line);
