// Temperature services with any name bytes (UTF-8 or not) and any double
// reading, each possibly missing, through the catalogue and the three
// temperature readings.
//
// Input: records of one presence byte (bit 0: a name follows, bit 1: a
// reading follows), a length-prefixed name and 8 raw bytes of a double.
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "SystemHelper.h"
#include "ThermalCatalogue.h"
#include "platform/SensorPlatform.h"

namespace {

constexpr std::size_t kMostServices = 64;

struct Service {
  std::optional<std::string> name;
  std::optional<double> reading;
};

std::vector<Service> services;

void decodeServices(FuzzInput& input) {
  services.clear();
  while (!input.empty() && services.size() < kMostServices) {
    const std::uint8_t presence = input.byte();
    Service& service = services.emplace_back();
    if (presence & 1) service.name = input.text();
    if (presence & 2) service.reading = input.raw<double>();
  }
}

bool isTemperatureResult(float value) { return value == 0.0f || (value > 0.0f && value <= 150.0f); }

}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  for (const Service& service : services) yield(service.name, service.reading);
}

void platformWalkAccelerators(const AcceleratorYield&) {}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  decodeServices(input);
  fuzzCheck(isTemperatureResult(SystemHelper_getCPUTemperature()), "CPU temperature not 0 or in (0, 150]");
  fuzzCheck(isTemperatureResult(SystemHelper_getCPUTemperatureAvg()), "CPU average not 0 or in (0, 150]");
  fuzzCheck(isTemperatureResult(SystemHelper_getGPUTemperature()), "GPU temperature not 0 or in (0, 150]");
  // Entries no selection reads must be in range too. A tiny positive reading
  // narrows to 0.
  ThermalCatalogue catalogue;
  for (const Service& service : services) catalogueOffer(catalogue, service.name, service.reading);
  for (const auto& entry : catalogue)
    fuzzCheck(entry.second >= 0.0f && entry.second <= 150.0f, "catalogue value outside 0..150");
  return 0;
}
