#include "SystemHelper.h"

#include <optional>
#include <string_view>

#include "TemperatureRules.h"
#include "UtilizationRules.h"
#include "platform/SensorPlatform.h"

namespace {

// A fresh snapshot for every reading: nothing is kept from one call to the next.
ThermalCatalogue readAllThermalSensors() {
  ThermalCatalogue catalogue;
  platformWalkThermalServices([&catalogue](std::optional<std::string_view> name, std::optional<double> reading) {
    catalogueOffer(catalogue, name, reading);
  });
  return catalogue;
}

}  // namespace

float SystemHelper_getCPUTemperature() { return cpuTemperatureOf(readAllThermalSensors()).value; }

float SystemHelper_getCPUTemperatureAvg() { return cpuTemperatureAvgOf(readAllThermalSensors()).value; }

float SystemHelper_getGPUTemperature() { return gpuTemperatureOf(readAllThermalSensors()); }

float SystemHelper_getGPUUtilization() {
  float maximum = 0.0f;
  platformWalkAccelerators([&maximum](std::string_view, const StatsTable* statistics) {
    if (statistics) maximum = raiseUtilization(maximum, utilizationFigure(*statistics));
  });
  return maximum;
}
