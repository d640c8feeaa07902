// Temperature services with any name bytes (UTF-8 or not) and any double
// reading, each possibly missing, through the three temperature readings:
// each is 0 or a temperature the catalogue could hold.
//
// Input: records of a presence byte (bit 0: a name follows, bit 1: a reading
// follows), a length-prefixed name and the 8 raw bytes of a double.
#include <vector>

#include "FuzzSupport.h"
#include "SystemHelper.h"
#include "platform/SensorPlatform.h"

namespace {
std::vector<std::pair<std::optional<std::string>, std::optional<double>>> services;
bool isTemperature(float value) { return value == 0.0f || (value > 0.0f && value <= 150.0f); }
}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  for (const auto& [name, reading] : services) yield(name ? std::optional<std::string_view>(*name) : std::nullopt, reading);
}
void platformWalkAccelerators(const AcceleratorYield&) {}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  services.clear();
  while (!input.empty() && services.size() < 64) {
    const std::uint8_t presence = input.byte();
    auto& [name, reading] = services.emplace_back();
    if (presence & 1) name = input.text();
    if (presence & 2) reading = input.raw<double>();
  }
  fuzzCheck(isTemperature(SystemHelper_getCPUTemperature()), "CPU temperature not 0 or in (0, 150]");
  fuzzCheck(isTemperature(SystemHelper_getCPUTemperatureAvg()), "CPU average not 0 or in (0, 150]");
  fuzzCheck(isTemperature(SystemHelper_getGPUTemperature()), "GPU temperature not 0 or in (0, 150]");
  return 0;
}
