#include "ScriptedSensors.h"

#include "platform/SensorPlatform.h"

std::vector<ScriptedService> scriptedServices;
std::vector<StatsTable> scriptedAccelerators;

void platformWalkThermalServices(const ThermalYield& yield) {
  for (const ScriptedService& service : scriptedServices) {
    const std::optional<std::string_view> name =
        service.name ? std::optional<std::string_view>(*service.name) : std::nullopt;
    yield(name, service.reading);
  }
}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  for (const StatsTable& statistics : scriptedAccelerators) yield(statistics);
}
