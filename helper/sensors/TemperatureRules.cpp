#include "TemperatureRules.h"

#include <array>
#include <string>

#include "AsciiLower.h"

namespace {

constexpr std::array<std::string_view, 6> kCpuMarkers{"soc", "pmu tdie", "cpu", "die", "eacc", "pacc"};
constexpr std::string_view kGpuMarker = "gpu";

// Each test lower-cases into `scratch`, a buffer reused across one pass.
std::optional<std::string_view> cpuMarkerIn(std::string_view name, std::string& scratch) {
  asciiLowerInto(name, scratch);
  for (const std::string_view marker : kCpuMarkers)
    if (scratch.find(marker) != std::string::npos) return marker;
  return std::nullopt;
}

bool isCpuSensor(std::string_view name, std::string& scratch) { return cpuMarkerIn(name, scratch).has_value(); }

bool isGpuSensor(std::string_view name, std::string& scratch) {
  asciiLowerInto(name, scratch);
  return scratch.find(kGpuMarker) != std::string::npos;
}

bool anySensor(std::string_view, std::string&) { return true; }

using SensorTest = bool (*)(std::string_view name, std::string& scratch);

float hottest(const ThermalCatalogue& catalogue, SensorTest selects) {
  std::string scratch;
  float maximum = 0.0f;
  for (const auto& [name, value] : catalogue)
    if (value > maximum && selects(name, scratch)) maximum = value;
  return maximum;
}

// Summed in double: a float sum of many readings near the top rounds up, and
// the mean of 34 readings the line shows as 149.9 would show as 150.0.
struct Mean {
  double sum = 0.0;
  int count = 0;
};

Mean positiveMean(const ThermalCatalogue& catalogue, SensorTest selects) {
  std::string scratch;
  Mean mean;
  for (const auto& [name, value] : catalogue) {
    if (value > 0.0f && selects(name, scratch)) {
      mean.sum += value;
      ++mean.count;
    }
  }
  return mean;
}

}  // namespace

std::optional<std::string_view> cpuMarkerOf(std::string_view name) {
  std::string scratch;
  return cpuMarkerIn(name, scratch);
}

bool isGpuSensorName(std::string_view name) {
  std::string scratch;
  return isGpuSensor(name, scratch);
}

CpuFigure cpuTemperatureOf(const ThermalCatalogue& catalogue) {
  const float cpu = hottest(catalogue, isCpuSensor);
  if (cpu > 0.0f) return {cpu, false};
  return {hottest(catalogue, anySensor), true};
}

CpuFigure cpuTemperatureAvgOf(const ThermalCatalogue& catalogue) {
  Mean mean = positiveMean(catalogue, isCpuSensor);
  const bool fromAllSensors = mean.count == 0;
  if (fromAllSensors) mean = positiveMean(catalogue, anySensor);
  return {mean.count < 1 ? 0.0f : static_cast<float>(mean.sum / mean.count), fromAllSensors};
}

float gpuTemperatureOf(const ThermalCatalogue& catalogue) { return hottest(catalogue, isGpuSensor); }
