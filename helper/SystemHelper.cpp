#include "SystemHelper.h"

#include <array>
#include <string>
#include <string_view>

#include "AsciiLower.h"
#include "GpuStats.h"
#include "ThermalCatalogue.h"
#include "platform/SensorPlatform.h"

namespace {

constexpr std::array<std::string_view, 6> kCpuMarkers{"soc", "pmu tdie", "cpu", "die", "eacc", "pacc"};
constexpr std::string_view kGpuMarker = "gpu";

// A fresh snapshot for every reading: nothing is kept from one call to the next.
ThermalCatalogue readAllThermalSensors() {
  ThermalCatalogue catalogue;
  platformWalkThermalServices([&catalogue](std::optional<std::string_view> name, std::optional<double> reading) {
    catalogueOffer(catalogue, name, reading);
  });
  return catalogue;
}

// Each test lower-cases into `scratch`, a buffer reused across one pass.
bool isCpuSensor(std::string_view name, std::string& scratch) {
  asciiLowerInto(name, scratch);
  for (const std::string_view marker : kCpuMarkers)
    if (scratch.find(marker) != std::string::npos) return true;
  return false;
}

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

struct Mean {
  float sum = 0.0f;
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

float SystemHelper_getCPUTemperature() {
  const ThermalCatalogue catalogue = readAllThermalSensors();
  const float cpu = hottest(catalogue, isCpuSensor);
  return cpu > 0.0f ? cpu : hottest(catalogue, anySensor);
}

float SystemHelper_getCPUTemperatureAvg() {
  const ThermalCatalogue catalogue = readAllThermalSensors();
  Mean mean = positiveMean(catalogue, isCpuSensor);
  if (mean.count == 0) mean = positiveMean(catalogue, anySensor);
  return mean.count < 1 ? 0.0f : mean.sum / static_cast<float>(mean.count);
}

float SystemHelper_getGPUTemperature() {
  return hottest(readAllThermalSensors(), isGpuSensor);
}

float SystemHelper_getGPUUtilization() {
  float maximum = 0.0f;
  platformWalkAccelerators(
      [&maximum](const StatsTable& statistics) { maximum = raiseUtilization(maximum, statistics); });
  return maximum;
}
