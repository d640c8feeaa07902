// The IOAccelerator walk against the counting stand-in: each failure path, the
// conversion of every kind of statistic, and the point at which each object is
// released.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "Ledger.h"
#include "RegistryScript.h"
#include "platform/SensorPlatform.h"

namespace {

using standin::FakeAccelerator;
using standin::PropertyCopy;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Pair;

using Described = std::vector<std::pair<std::string, std::string>>;

std::string describe(const StatValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, StatOther>) {
          return "other";
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "bool true" : "bool false";
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return "int " + std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          char text[40];
          std::snprintf(text, sizeof text, "float %.17g", v);
          return text;
        } else {
          return "text " + v;
        }
      },
      value);
}

Described describe(const StatsTable& table) {
  Described described;
  for (const auto& [key, value] : table) described.emplace_back(key, describe(value));
  return described;
}

FakeAccelerator withStatistics(standin::Value statistics) { return {PropertyCopy::Table, std::move(statistics)}; }

standin::Value utilization(std::int64_t percent) {
  return standin::mapValue({{standin::textValue("Device Utilization %"), standin::intValue(percent)}});
}

class AcceleratorWalk : public testing::Test {
 protected:
  void SetUp() override {
    standin::registryScript() = {};
    standin::ledger().begin();
  }

  // Every case ends with each handed-out object released exactly once, except
  // the matching description, which the query takes over.
  void TearDown() override {
    EXPECT_THAT(standin::ledger().errors(), IsEmpty());
    EXPECT_THAT(standin::ledger().unbalanced(), IsEmpty());
  }

  static std::vector<Described> walk() {
    std::vector<Described> yielded;
    platformWalkAccelerators([&](const StatsTable& statistics) {
      standin::ledger().note("yield");
      yielded.push_back(describe(statistics));
    });
    return yielded;
  }

  static const std::vector<std::string>& trace() { return standin::ledger().trace(); }
};

TEST_F(AcceleratorWalk, MatchingThatCannotBeMadeYieldsNothing) {
  standin::registryScript().matchingFails = true;
  EXPECT_THAT(walk(), IsEmpty());
  EXPECT_THAT(trace(), ElementsAre("match IOAccelerator"));
}

TEST_F(AcceleratorWalk, FailedQueryYieldsNothingAndLeavesTheMatchingToIt) {
  standin::registryScript().queryFails = true;
  standin::registryScript().accelerators = {withStatistics(utilization(37))};
  EXPECT_THAT(walk(), IsEmpty());
  EXPECT_THAT(trace(), ElementsAre("match IOAccelerator", "query"));
}

TEST_F(AcceleratorWalk, NoAcceleratorReleasesTheIterator) {
  EXPECT_THAT(walk(), IsEmpty());
  EXPECT_THAT(standin::registryScript().classesMatched, ElementsAre("IOAccelerator"));
  EXPECT_THAT(trace(), ElementsAre("match IOAccelerator", "query", "next: none", "release iterator"));
}

TEST_F(AcceleratorWalk, AcceleratorsWithoutStatisticsAreSkippedAndTheWalkGoesOn) {
  standin::registryScript().accelerators = {
      {PropertyCopy::Fails, utilization(10)},
      {PropertyCopy::GivesNothing, utilization(20)},
      {PropertyCopy::Table, std::nullopt},
      withStatistics(standin::textValue("busy")),
      withStatistics(standin::listValue({standin::intValue(30)})),
      withStatistics(utilization(37)),
  };
  EXPECT_THAT(walk(), ElementsAre(ElementsAre(Pair("Device Utilization %", "int 37"))));
}

TEST_F(AcceleratorWalk, ReleasesEachObjectWhereTheWalkIsDoneWithIt) {
  standin::registryScript().accelerators = {withStatistics(utilization(37)), {PropertyCopy::Fails, std::nullopt}};
  walk();
  EXPECT_THAT(trace(), ElementsAre("match IOAccelerator", "query",
                                   "next: accelerator#0", "copy properties#0", "release properties#0", "yield",
                                   "release accelerator#0",
                                   "next: accelerator#1", "copy properties#1", "release accelerator#1",
                                   "next: none", "release iterator"));
}

TEST_F(AcceleratorWalk, StatisticsOfEveryKindConvertInTheTablesOwnOrder) {
  using namespace standin;
  registryScript().accelerators = {withStatistics(mapValue({
      {textValue("Device Utilization %"), intValue(37)},
      {textValue("Tiler Utilization %"), intValue(12, kCFNumberSInt32Type)},
      {textValue("GPU Activity(%)"), floatValue(0.6)},
      {textValue("Renderer Utilization %"), floatValue(0.25, kCFNumberFloat32Type)},
      {textValue("recoveryCount"), intValue(-5)},
      {textValue("In use"), boolValue(true)},
      {textValue("Idle"), boolValue(false)},
      {textValue("GPU Core Utilization"), textValue("42")},
      {textValue("Alloc system memory"), wideIntValue()},
      {textValue("SplitSceneCount"), listValue({intValue(1)})},
      {textValue("Nested"), mapValue({{textValue("inner"), intValue(1)}})},
      {intValue(7), intValue(99)},  // a key that is not text
      {textValue("Température °C"), floatValue(std::numeric_limits<double>::quiet_NaN())},
  }))};
  EXPECT_THAT(walk(), ElementsAre(ElementsAre(Pair("Device Utilization %", "int 37"),
                                              Pair("Tiler Utilization %", "int 12"),
                                              Pair("GPU Activity(%)", "float 0.59999999999999998"),
                                              Pair("Renderer Utilization %", "float 0.25"),
                                              Pair("recoveryCount", "int -5"),
                                              Pair("In use", "bool true"),
                                              Pair("Idle", "bool false"),
                                              Pair("GPU Core Utilization", "text 42"),
                                              Pair("Alloc system memory", "other"),
                                              Pair("SplitSceneCount", "other"),
                                              Pair("Nested", "other"),
                                              Pair("Température °C", "float nan"))));
}

}  // namespace
