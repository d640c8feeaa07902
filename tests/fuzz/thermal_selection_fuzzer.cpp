// Temperature services with any name bytes (UTF-8 or not) and any double
// reading, each possibly missing, through the catalogue and the three
// temperature readings.
//
// Input: records of one presence byte (bit 0: a name follows, bit 1: a
// reading follows), a length-prefixed name and 8 raw bytes of a double.
#include <algorithm>
#include <cstdint>

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "ScriptedSensors.h"
#include "SystemHelper.h"
#include "ThermalCatalogue.h"

namespace {

constexpr std::size_t kMostServices = 64;

std::vector<ScriptedService> decodeServices(FuzzInput& input) {
  std::vector<ScriptedService> services;
  while (!input.empty() && services.size() < kMostServices) {
    const std::uint8_t presence = input.byte();
    ScriptedService service;
    if (presence & 1) service.name = input.text();
    if (presence & 2) service.reading = input.raw<double>();
    services.push_back(std::move(service));
  }
  return services;
}

bool isTemperatureResult(float value) { return value == 0.0f || (value > 0.0f && value <= 150.0f); }

ThermalCatalogue catalogueOf(const std::vector<ScriptedService>& services) {
  ThermalCatalogue catalogue;
  for (const ScriptedService& service : services) {
    const std::optional<std::string_view> name =
        service.name ? std::optional<std::string_view>(*service.name) : std::nullopt;
    catalogueOffer(catalogue, name, service.reading);
  }
  return catalogue;
}

bool holdsValue(const ThermalCatalogue& catalogue, float value) {
  return std::any_of(catalogue.begin(), catalogue.end(), [value](const auto& entry) { return entry.second == value; });
}

float hottestOf(const ThermalCatalogue& catalogue) {
  float hottest = 0.0f;
  for (const auto& entry : catalogue) hottest = std::max(hottest, entry.second);
  return hottest;
}

void checkCatalogue(const ThermalCatalogue& catalogue) {
  for (const auto& entry : catalogue)
    fuzzCheck(entry.second >= 0.0f && entry.second <= 150.0f, "catalogue value outside 0..150");
}

// A maximum is always one of the readings; a mean lies within them, allowing
// for the rounding of a single-precision running sum.
void checkSelections(const ThermalCatalogue& catalogue, float cpu, float cpuAvg, float gpu) {
  fuzzCheck(cpu == 0.0f || holdsValue(catalogue, cpu), "CPU temperature is no sensor's reading");
  fuzzCheck(gpu == 0.0f || holdsValue(catalogue, gpu), "GPU temperature is no sensor's reading");
  const float hottest = hottestOf(catalogue);
  fuzzCheck((hottest > 0.0f) == (cpu > 0.0f), "CPU temperature missing although a sensor reads above 0");
  fuzzCheck((hottest > 0.0f) == (cpuAvg > 0.0f), "CPU average missing although a sensor reads above 0");
  const float slack = 1.0f + static_cast<float>(catalogue.size()) * 1.2e-7f;
  fuzzCheck(cpuAvg <= hottest * slack, "CPU average above the hottest sensor");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  scriptedServices = decodeServices(input);
  const float cpu = SystemHelper_getCPUTemperature();
  const float cpuAvg = SystemHelper_getCPUTemperatureAvg();
  const float gpu = SystemHelper_getGPUTemperature();
  fuzzCheck(isTemperatureResult(cpu), "CPU temperature not 0 or in (0, 150]");
  fuzzCheck(isTemperatureResult(cpuAvg), "CPU average not 0 or in (0, 150]");
  fuzzCheck(isTemperatureResult(gpu), "GPU temperature not 0 or in (0, 150]");
  const ThermalCatalogue catalogue = catalogueOf(scriptedServices);
  checkCatalogue(catalogue);
  checkSelections(catalogue, cpu, cpuAvg, gpu);
  return 0;
}
