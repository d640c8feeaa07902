#include "SensorSample.h"

#include <map>
#include <utility>

#include "Telemetry.h"
#include "platform/SensorPlatform.h"

namespace {

std::vector<ServiceSample> walkServices(ThermalCatalogue& catalogue) {
  std::vector<ServiceSample> services;
  std::map<std::string, std::size_t, std::less<>> holders;  // whose reading the catalogue keeps, by name
  platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
    ServiceSample& service = services.emplace_back();
    service.reading = reading;
    service.admission = catalogueOffer(catalogue, name, reading);
    if (!name) return;
    service.name = std::string(*name);
    service.cpuMarker = cpuMarkerOf(*name);
    service.gpu = isGpuSensorName(*name);
    if (service.admission != Admission::Stored) return;
    const auto [holder, first] = holders.try_emplace(*service.name, services.size() - 1);
    if (!first) services[std::exchange(holder->second, services.size() - 1)].replaced = true;
  });
  return services;
}

std::vector<AcceleratorSample> walkAccelerators(float& utilization) {
  std::vector<AcceleratorSample> accelerators;
  platformWalkAccelerators([&](std::string_view name, const StatsTable* statistics) {
    AcceleratorSample& accelerator = accelerators.emplace_back();
    accelerator.name = name;
    accelerator.hasStatistics = statistics != nullptr;
    if (!statistics) return;
    utilization = raiseUtilization(utilization, *statistics);
    if (const auto chosen = utilizationStatistic(*statistics)) {
      accelerator.statistic = chosen->key;
      accelerator.named = chosen->named;
      accelerator.value = chosen->value;
      accelerator.fraction = utilizationFraction(chosen->value);
    }
  });
  return accelerators;
}

}  // namespace

SensorSample takeSensorSample() {
  SensorSample sample;
  ThermalCatalogue catalogue;
  sample.services = walkServices(catalogue);
  sample.cpuTemp = cpuTemperatureOf(catalogue);
  sample.cpuTempAvg = cpuTemperatureAvgOf(catalogue);
  sample.gpuTemp = gpuTemperatureOf(catalogue);
  sample.accelerators = walkAccelerators(sample.gpuUtil);
  const TelemetryLine line =
      formatTelemetryLine(sample.cpuTemp.value, sample.cpuTempAvg.value, sample.gpuTemp, sample.gpuUtil);
  sample.line.assign(line.bytes, line.size);
  return sample;
}
