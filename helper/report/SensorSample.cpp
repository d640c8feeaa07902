#include "SensorSample.h"

#include <map>
#include <utility>

#include "platform/SensorPlatform.h"
#include "protocol/Telemetry.h"

namespace {

struct ServiceWalk {
  std::vector<ServiceSample> services;
  ThermalCatalogue catalogue;
};

ServiceWalk walkServices() {
  ServiceWalk walk;
  std::map<std::string, std::size_t, std::less<>> holders;  // whose reading the catalogue keeps, by name
  platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
    ServiceSample& service = walk.services.emplace_back();
    service.reading = reading;
    service.admission = catalogueOffer(walk.catalogue, name, reading);
    if (!name) return;
    service.name = std::string(*name);
    service.cpuMarker = cpuMarkerOf(*name);
    service.gpu = isGpuSensorName(*name);
    if (service.admission != Admission::Stored) return;
    const std::size_t index = walk.services.size() - 1;
    const auto [holder, first] = holders.try_emplace(*service.name, index);
    if (!first) walk.services[std::exchange(holder->second, index)].replaced = true;
  });
  return walk;
}

struct AcceleratorWalk {
  std::vector<AcceleratorSample> accelerators;
  float utilization = 0.0f;
};

AcceleratorWalk walkAccelerators() {
  AcceleratorWalk walk;
  platformWalkAccelerators([&walk](std::string_view name, const StatsTable* statistics) {
    AcceleratorSample& accelerator = walk.accelerators.emplace_back();
    accelerator.name = name;
    accelerator.hasStatistics = statistics != nullptr;
    if (!statistics) return;
    const std::optional<UtilizationFigure> figure = utilizationFigure(*statistics);
    walk.utilization = raiseUtilization(walk.utilization, figure);
    if (!figure) return;
    accelerator.statistic = figure->key;
    accelerator.named = figure->named;
    accelerator.value = figure->value;
    accelerator.fraction = figure->fraction;
  });
  return walk;
}

}  // namespace

SensorSample takeSensorSample() {
  SensorSample sample;
  ServiceWalk services = walkServices();
  sample.services = std::move(services.services);
  sample.cpuTemp = cpuTemperatureOf(services.catalogue);
  sample.cpuTempAvg = cpuTemperatureAvgOf(services.catalogue);
  sample.gpuTemp = gpuTemperatureOf(services.catalogue);
  AcceleratorWalk accelerators = walkAccelerators();
  sample.accelerators = std::move(accelerators.accelerators);
  sample.gpuUtil = accelerators.utilization;
  const TelemetryLine line =
      formatTelemetryLine(sample.cpuTemp.value, sample.cpuTempAvg.value, sample.gpuTemp, sample.gpuUtil);
  sample.line.assign(line.bytes, line.size);
  return sample;
}
