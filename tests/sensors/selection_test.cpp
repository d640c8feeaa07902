#include <gtest/gtest.h>

#include "SystemHelper.h"
#include "platform/SensorPlatform.h"

// A scripted platform: what the next walks yield, and how often they were asked.
namespace {
std::vector<std::pair<const char*, double>> services;
std::vector<StatsTable> accelerators;
int thermalWalks = 0;
}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  ++thermalWalks;
  for (const auto& [name, reading] : services) yield(name, reading);
}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  for (const StatsTable& statistics : accelerators) yield(statistics);
}

namespace {

void expectReadings(std::vector<std::pair<const char*, double>> sensors, float cpu, float cpuAvg, float gpu) {
  services = std::move(sensors);
  EXPECT_FLOAT_EQ(SystemHelper_getCPUTemperature(), cpu);
  EXPECT_FLOAT_EQ(SystemHelper_getCPUTemperatureAvg(), cpuAvg);
  EXPECT_FLOAT_EQ(SystemHelper_getGPUTemperature(), gpu);
}

TEST(TemperatureSelection, ChoosesByNameAndFallsBackOnlyWithoutACpuSensor) {
  expectReadings({}, 0.0f, 0.0f, 0.0f);
  expectReadings({{"CPU Core 1", 60.0}, {"CPU Core 2", 70.0}, {"Battery", 30.0}}, 70.0f, 65.0f, 0.0f);
  expectReadings({{"Disk", 35.0}, {"Battery", 30.0}}, 35.0f, 32.5f, 0.0f);
  expectReadings({{"Graphics GPU 1", 50.0}}, 50.0f, 50.0f, 50.0f);
  expectReadings({{"GPU Die 3", 55.0}, {"Battery", 90.0}}, 55.0f, 55.0f, 55.0f);
  expectReadings({{"CPU 1", 40.0}, {"Battery", 90.0}}, 40.0f, 40.0f, 0.0f);
}

TEST(TemperatureSelection, MarkersAreSubstringsInAnyCase) {
  // Beside a hotter sensor of neither kind, a sensor's own value shows it was chosen.
  for (const char* cpu : {"SoC Sensor", "PMU tdie1", "xcpux", "Die 2", "eAcc 2", "PACC Cluster"})
    expectReadings({{cpu, 50.0}, {"Battery", 90.0}}, 50.0f, 50.0f, 0.0f);
  expectReadings({{"Gpu 0", 50.0}, {"Battery", 90.0}}, 90.0f, 70.0f, 50.0f);
  expectReadings({{"acc", 50.0}, {"gp u", 90.0}, {"c pu", 70.0}}, 90.0f, 70.0f, 0.0f);
}

TEST(TemperatureSelection, EveryReadingTakesItsOwnSnapshot) {
  thermalWalks = 0;
  expectReadings({{"CPU", 50.0}}, 50.0f, 50.0f, 0.0f);
  EXPECT_EQ(thermalWalks, 3);
}

TEST(GpuUtilization, BusiestAcceleratorWins) {
  accelerators.clear();
  EXPECT_FLOAT_EQ(SystemHelper_getGPUUtilization(), 0.0f);
  accelerators = {{{"Device Utilization %", std::int64_t{30}}}, {{"Device Utilization %", 0.6}}, {}};
  EXPECT_FLOAT_EQ(SystemHelper_getGPUUtilization(), 0.6f);
}

}  // namespace
