#include "platform/linux/NvmlWalk.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

template <typename Visit>
void forEachDevice(const NvmlApi& api, Visit visit) {
  unsigned int count = 0;
  if (api.deviceGetCount(&count) != kNvmlSuccess) return;
  for (unsigned int index = 0; index < count; ++index) {
    nvmlDevice_t device = nullptr;
    if (api.deviceGetHandleByIndex(index, &device) == kNvmlSuccess) visit(index, device);
  }
}

std::optional<std::string> sensorName(const NvmlApi& api, nvmlDevice_t device, unsigned int index) {
  char name[kNvmlDeviceNameBytes] = {};
  if (api.deviceGetName(device, name, sizeof name) != kNvmlSuccess) return std::nullopt;
  name[sizeof name - 1] = '\0';
  return "GPU " + std::to_string(index) + " " + name;
}

std::optional<double> temperatureOf(const NvmlApi& api, nvmlDevice_t device) {
  unsigned int celsius = 0;
  if (api.deviceGetTemperature(device, kNvmlTemperatureGpu, &celsius) != kNvmlSuccess) return std::nullopt;
  return celsius;
}

}  // namespace

void walkNvmlSensors(const NvmlApi& api, const ThermalYield& yield) {
  forEachDevice(api, [&](unsigned int index, nvmlDevice_t device) {
    const std::optional<std::string> name = sensorName(api, device, index);
    yield(name ? std::optional<std::string_view>(*name) : std::nullopt, temperatureOf(api, device));
  });
}

void walkNvmlAccelerators(const NvmlApi& api, const AcceleratorYield& yield) {
  forEachDevice(api, [&](unsigned int, nvmlDevice_t device) {
    nvmlUtilization_t utilization{};
    if (api.deviceGetUtilizationRates(device, &utilization) == kNvmlSuccess)
      yield(StatsTable{{"Device Utilization %", std::int64_t{utilization.gpu}}});
  });
}
