#include <gtest/gtest.h>

#include <limits>

#include "GpuStats.h"

namespace {

StatsTable named(StatValue value) { return {{"Device Utilization %", std::move(value)}}; }

void expectFigures(std::initializer_list<std::pair<StatsTable, float>> cases) {
  for (const auto& [statistics, expected] : cases) EXPECT_FLOAT_EQ(raiseUtilization(0.0f, statistics), expected);
}

TEST(UtilizationRule, WholeNumbersArePercentagesOthersOnlyAboveOne) {
  expectFigures({{named(std::int64_t{37}), 0.37f}, {named(std::int64_t{1}), 0.01f},  // 1 % is not 100 %
                 {named(std::int64_t{100}), 1.0f}, {named(std::int64_t{250}), 1.0f}, {named(std::int64_t{-5}), 0.0f},
                 {named(0.8), 0.8f},               {named(1.5), 0.015f},             {named(37.0), 0.37f},
                 {named(true), 1.0f},              {named(false), 0.0f}});
}

TEST(UtilizationRule, FirstNamedKeyPresentDecidesWhateverItsValue) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::int64_t ten = 10, sixty = 60;
  expectFigures({{{{"Device Utilization %", std::int64_t{0}}, {"GPU Activity(%)", sixty}}, 0.0f},
                 {{{"GPU Activity(%)", sixty}, {"Device Utilization %", ten}}, 0.1f},
                 {{{"deviceUtilizationPercent", sixty}, {"GPU Core Utilization", ten}}, 0.1f},
                 {{{"Device Utilization %", StatOther{}}, {"Tiler Utilization", sixty}}, 0.0f},
                 {{{"Device Utilization %", nan}, {"Tiler Utilization", sixty}}, 0.0f},
                 {named(std::numeric_limits<double>::infinity()), 0.0f}});
}

TEST(UtilizationRule, ScanTakesTheFirstNumberUnderAMatchingKey) {
  expectFigures({{{{"Busy", std::int64_t{90}}, {"Tiler UTILIZATION", std::int64_t{45}}}, 0.45f},
                 {{{"utilization", std::string("80")}, {"utilization", StatOther{}}, {"Core activity", 0.3}}, 0.3f},
                 {{{"Utilization A", 0.2}, {"Utilization B", 0.9}}, 0.2f},
                 {{{"Busy", std::int64_t{90}}}, 0.0f}});
}

TEST(UtilizationRule, TextIsAPlainLeadingDecimal) {
  expectFigures({{named(std::string("42")), 0.42f},   {named(std::string(" \t42.5 %")), 0.425f},
                 {named(std::string("+60")), 0.6f},   {named(std::string("1e2")), 1.0f},
                 {named(std::string("busy")), 0.0f},  {named(std::string("nan")), 0.0f},
                 {named(std::string("inf")), 0.0f},   {named(std::string("0x50")), 0.0f},
                 {named(std::string("1e999")), 0.0f}});
}

TEST(UtilizationRule, NeverLowersTheRunningMaximum) {
  EXPECT_FLOAT_EQ(raiseUtilization(0.5f, named(std::int64_t{37})), 0.5f);
  EXPECT_FLOAT_EQ(raiseUtilization(0.5f, {}), 0.5f);
  EXPECT_FLOAT_EQ(raiseUtilization(0.5f, named(std::int64_t{80})), 0.8f);
}

}  // namespace
