// The IOAccelerator walk against the counting stand-in: each failure path, the
// conversion of every kind of statistic, and the point at which each object is
// released.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Standin.h"
#include "platform/SensorPlatform.h"

namespace {

using standin::PropertyCopy;
using standin::text;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

std::vector<StatsTable> walk(standin::RegistryScript script) {
  standin::registry = std::move(script);
  standin::begin();
  std::vector<StatsTable> yielded;
  platformWalkAccelerators([&](const StatsTable& statistics) {
    standin::note("yield");
    yielded.push_back(statistics);
  });
  // Every handed-out object released exactly once, except the matching
  // description, which the query takes over.
  EXPECT_THAT(standin::errors(), IsEmpty());
  EXPECT_THAT(standin::unbalanced(), IsEmpty());
  return yielded;
}

standin::Value utilization(std::int64_t percent) {
  return standin::dictionary({text("Device Utilization %"), standin::integer(percent)});
}

TEST(AcceleratorWalk, FailedMatchingOrQueryAndNoAcceleratorYieldNothing) {
  const std::vector<standin::Accelerator> one{{PropertyCopy::Table, utilization(37)}};
  const struct {
    standin::RegistryScript script;
    std::vector<std::string> calls;
  } cases[] = {
      {{true, false, one}, {"match IOAccelerator"}},
      {{false, true, one}, {"match IOAccelerator", "query"}},
      {{}, {"match IOAccelerator", "query", "next: none", "release iterator"}},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(walk(c.script), IsEmpty());
    EXPECT_THAT(standin::trace(), ElementsAreArray(c.calls));
  }
}

TEST(AcceleratorWalk, SkipsAcceleratorsWithoutStatisticsAndReleasesEachWhenDone) {
  const auto yielded = walk({false, false, {
      {PropertyCopy::Fails, utilization(10)},
      {PropertyCopy::GivesNothing, utilization(20)},
      {PropertyCopy::Table, std::nullopt},
      {PropertyCopy::Table, text("busy")},  // statistics that are not a dictionary
      {PropertyCopy::Table, utilization(37)},
  }});
  EXPECT_THAT(yielded, ElementsAre(StatsTable{{"Device Utilization %", std::int64_t{37}}}));
  EXPECT_THAT(standin::trace(), ElementsAre("match IOAccelerator", "query",
                                            "next: accelerator#0", "copy properties#0", "release accelerator#0",
                                            "next: accelerator#1", "copy properties#1", "release accelerator#1",
                                            "next: accelerator#2", "copy properties#2", "release properties#2",
                                            "release accelerator#2",
                                            "next: accelerator#3", "copy properties#3", "release properties#3",
                                            "release accelerator#3",
                                            "next: accelerator#4", "copy properties#4", "release properties#4",
                                            "yield", "release accelerator#4",
                                            "next: none", "release iterator"));
}

TEST(AcceleratorWalk, StatisticsOfEveryKindConvertInTheTablesOwnOrder) {
  const auto yielded = walk({false, false, {{PropertyCopy::Table, standin::dictionary({
      text("Device Utilization %"), standin::integer(37),
      text("GPU Activity(%)"), standin::real(0.6),
      text("recoveryCount"), standin::integer(-5),
      text("In use"), standin::boolean(true),
      text("Idle"), standin::boolean(false),
      text("GPU Core Utilization"), text("42"),
      text("Alloc system memory"), standin::wideInteger(),
      text("SplitSceneCount"), standin::list({standin::integer(1)}),
      standin::integer(7), standin::integer(99),  // a key that is not text is left out
  })}}});
  EXPECT_THAT(yielded, ElementsAre(StatsTable{{"Device Utilization %", std::int64_t{37}},
                                              {"GPU Activity(%)", 0.6},
                                              {"recoveryCount", std::int64_t{-5}},
                                              {"In use", true},
                                              {"Idle", false},
                                              {"GPU Core Utilization", std::string("42")},
                                              {"Alloc system memory", StatOther{}},
                                              {"SplitSceneCount", StatOther{}}}));
}

}  // namespace
