#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SystemHelper.h"
#include "platform/SensorPlatform.h"

// A scripted platform: what the next walks yield, and how often they were asked.
namespace {
using Services = std::vector<std::pair<std::optional<std::string>, std::optional<double>>>;
Services services;
std::vector<StatsTable> accelerators;
int thermalWalks = 0;
}  // namespace

void platformWalkThermalServices(const ThermalYield& yield) {
  ++thermalWalks;
  for (const auto& [name, reading] : services) yield(name ? std::optional<std::string_view>(*name) : std::nullopt, reading);
}

void platformWalkAccelerators(const AcceleratorYield& yield) {
  for (const StatsTable& statistics : accelerators) yield(statistics);
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(TemperatureReadings, ChooseByNameMarkersAmongReadingsInRange) {
  const struct {
    Services services;
    float cpu, cpuAvg, gpu;
  } cases[] = {
      {{}, 0, 0, 0},
      {{{"CPU Core 1", 60}, {"CPU Core 2", 70}, {"Battery", 30}}, 70, 65, 0},
      {{{"Disk", 35}, {"Battery", 30}}, 35, 32.5f, 0},  // no CPU sensor: both CPU figures take every sensor
      {{{"Graphics GPU 1", 50}}, 50, 50, 50},
      {{{"GPU Die 3", 55}, {"Battery", 90}}, 55, 55, 55},  // a CPU and a GPU sensor at once
      {{{"CPU 1", 40}, {"Battery", 90}}, 40, 40, 0},
      // Markers are substrings in any case; beside a hotter other sensor, a CPU sensor's own value shows.
      {{{"SoC Sensor", 50}, {"Battery", 90}}, 50, 50, 0},
      {{{"PMU tdie1", 50}, {"Battery", 90}}, 50, 50, 0},
      {{{"xcpux", 50}, {"Battery", 90}}, 50, 50, 0},
      {{{"Die 2", 50}, {"Battery", 90}}, 50, 50, 0},
      {{{"eAcc 2", 50}, {"Battery", 90}}, 50, 50, 0},
      {{{"PACC Cluster", 50}, {"Battery", 90}}, 50, 50, 0},
      {{{"Gpu 0", 50}, {"Battery", 90}}, 90, 70, 50},
      {{{"acc", 50}, {"gp u", 90}, {"c pu", 70}}, 90, 70, 0},
      // Only readings strictly between 0 and 150 count, tested before narrowing to float.
      {{{"cpu a", 0.5}, {"cpu b", 149.5}}, 149.5f, 75, 0},
      {{{"cpu", 149.999999}}, 150, 150, 0},
      {{{"cpu", 0.0}, {"b", 150.0}, {"c", -3}, {"d", kNaN}, {"e", kInf}, {std::nullopt, 40}, {"f", std::nullopt}}, 0, 0, 0},
      // A later reading of a name replaces an earlier one; one out of range removes nothing.
      {{{"Die", 40}, {"Die", 50}, {"Die", 200}}, 50, 50, 0},
      {{{"cpu", 42}, {"CPU", 44}}, 44, 43, 0},  // names are exact text: two sensors
  };
  for (const auto& c : cases) {
    services = c.services;
    thermalWalks = 0;
    EXPECT_FLOAT_EQ(SystemHelper_getCPUTemperature(), c.cpu) << testing::PrintToString(c.services);
    EXPECT_FLOAT_EQ(SystemHelper_getCPUTemperatureAvg(), c.cpuAvg) << testing::PrintToString(c.services);
    EXPECT_FLOAT_EQ(SystemHelper_getGPUTemperature(), c.gpu) << testing::PrintToString(c.services);
    EXPECT_EQ(thermalWalks, 3) << "each reading takes a snapshot of its own";
  }
}

StatsTable named(StatValue value) { return {{"Device Utilization %", std::move(value)}}; }
StatValue whole(std::int64_t n) { return n; }

TEST(GpuUtilization, BusiestAcceleratorsFirstStatisticAsAFraction) {
  const struct {
    std::vector<StatsTable> accelerators;
    float expected;
  } cases[] = {
      {{}, 0},
      {{named(whole(37))}, 0.37f},
      {{named(whole(1))}, 0.01f},  // a whole number is a percentage: 1 % is not fully busy
      {{named(whole(100))}, 1},
      {{named(whole(250))}, 1},
      {{named(whole(-5))}, 0},
      {{named(0.8)}, 0.8f},
      {{named(1.0)}, 1},
      {{named(1.5)}, 0.015f},
      {{named(37.0)}, 0.37f},
      {{named(true)}, 1},
      {{named(false), named(0.25)}, 0.25f},
      {{named(whole(30)), named(0.6), {}}, 0.6f},
      // The first named statistic present decides, whatever its value.
      {{{{"Device Utilization %", whole(0)}, {"GPU Activity(%)", whole(60)}}}, 0},
      {{{{"GPU Activity(%)", whole(60)}, {"Device Utilization %", whole(10)}}}, 0.1f},
      {{{{"deviceUtilizationPercent", whole(60)}, {"GPU Core Utilization", whole(10)}}}, 0.1f},
      {{{{"deviceUtilizationPercent", whole(20)}, {"Renderer Utilization", whole(90)}}}, 0.2f},
      {{{{"Device Utilization %", StatOther{}}, {"Tiler Utilization", whole(60)}}}, 0},
      {{{{"Device Utilization %", kNaN}, {"Tiler Utilization", whole(60)}}}, 0},
      {{named(kInf)}, 0},
      // Otherwise the first number under a key that holds "utilization" or "activity".
      {{{{"Busy", whole(90)}, {"Tiler UTILIZATION", whole(45)}}}, 0.45f},
      {{{{"utilization", std::string("80")}, {"utilization", StatOther{}}, {"Core activity", 0.3}}}, 0.3f},
      {{{{"Utilization A", 0.2}, {"Utilization B", 0.9}}}, 0.2f},
      {{{{"Busy", whole(90)}}}, 0},
      // A text is the plain decimal number it starts with.
      {{named(std::string("42"))}, 0.42f},
      {{named(std::string(" \t42.5 %"))}, 0.425f},
      {{named(std::string("+60"))}, 0.6f},
      {{named(std::string("-60"))}, 0},
      {{named(std::string("1e2"))}, 1},
      {{named(std::string("busy"))}, 0},
      {{named(std::string("nan"))}, 0},
      {{named(std::string("inf"))}, 0},
      {{named(std::string("0x50"))}, 0},
      {{named(std::string("1e999"))}, 0},
  };
  for (const auto& c : cases) {
    accelerators = c.accelerators;
    EXPECT_FLOAT_EQ(SystemHelper_getGPUUtilization(), c.expected) << testing::PrintToString(c.accelerators);
  }
}

}  // namespace
