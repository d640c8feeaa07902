#include "platform/linux/NvmlWalk.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/SysfsTree.h"

namespace {

// NVML gives the PCI function only as the busId's last digit.
std::optional<char> functionOf(const nvmlPciInfo_t& pci) {
  const std::string_view busId(pci.busId, strnlen(pci.busId, sizeof pci.busId));
  const std::size_t dot = busId.rfind('.');
  if (dot == std::string_view::npos || dot + 2 != busId.size()) return std::nullopt;
  const char function = busId[dot + 1];
  if (function < '0' || function > '7') return std::nullopt;
  return function;
}

// The kernel's name for the device's PCI function ("0000:01:00.0": lower-case
// hex, at least four digits of domain), or none where NVML cannot say.
std::optional<std::string> pciAddressOf(const NvmlApi& api, nvmlDevice_t device) {
  nvmlPciInfo_t pci{};
  if (!api.deviceGetPciInfo || api.deviceGetPciInfo(device, &pci) != kNvmlSuccess) return std::nullopt;
  const std::optional<char> function = functionOf(pci);
  if (!function) return std::nullopt;
  char address[sizeof pci.busId];
  std::snprintf(address, sizeof address, "%04x:%02x:%02x.%c", pci.domain, pci.bus, pci.device, *function);
  return address;
}

// A device whose PCI address is unknown is read: losing its readings would be
// worse than waking it.
bool isAsleep(const NvmlApi& api, const std::string& sysfsRoot, nvmlDevice_t device) {
  const std::optional<std::string> address = pciAddressOf(api, device);
  return address && isPciDeviceSuspended(sysfsRoot, *address);
}

template <typename Visit>
void forEachAwakeDevice(const NvmlApi& api, const std::string& sysfsRoot, Visit visit) {
  unsigned int count = 0;
  if (api.deviceGetCount(&count) != kNvmlSuccess) return;
  for (unsigned int index = 0; index < count; ++index) {
    nvmlDevice_t device = nullptr;
    if (api.deviceGetHandleByIndex(index, &device) == kNvmlSuccess && !isAsleep(api, sysfsRoot, device))
      visit(index, device);
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

void walkNvmlSensors(const NvmlApi& api, const std::string& sysfsRoot, const ThermalYield& yield) {
  forEachAwakeDevice(api, sysfsRoot, [&](unsigned int index, nvmlDevice_t device) {
    const std::optional<std::string> name = sensorName(api, device, index);
    yield(name ? std::optional<std::string_view>(*name) : std::nullopt, temperatureOf(api, device));
  });
}

void walkNvmlAccelerators(const NvmlApi& api, const std::string& sysfsRoot, const AcceleratorYield& yield) {
  forEachAwakeDevice(api, sysfsRoot, [&](unsigned int index, nvmlDevice_t device) {
    nvmlUtilization_t utilization{};
    const bool busyKnown = api.deviceGetUtilizationRates(device, &utilization) == kNvmlSuccess;
    const StatsTable statistics{{"Device Utilization %", std::int64_t{utilization.gpu}}};
    yield("NVML GPU " + std::to_string(index), busyKnown ? &statistics : nullptr);
  });
}
