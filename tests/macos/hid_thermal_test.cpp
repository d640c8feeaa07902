// The HID temperature walk against the counting stand-in: each failure path,
// the facts yielded per service, and the point at which each object is released.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Standin.h"
#include "platform/SensorPlatform.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;
using Fact = std::pair<std::optional<std::string>, std::optional<double>>;

std::vector<Fact> walk() {
  std::vector<Fact> facts;
  platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
    standin::note("yield");
    facts.emplace_back(name ? std::optional<std::string>(*name) : std::nullopt, reading);
  });
  return facts;
}

// The walk's calls, less the releases of the numbers that build the matching
// dictionary, which happens in whichever case walks first.
std::vector<std::string> trace() {
  std::vector<std::string> calls;
  for (const std::string& entry : standin::trace()) {
    if (entry.rfind("release number", 0) != 0) calls.push_back(entry);
  }
  return calls;
}

// Each handed-out object released exactly once and nothing alive but the
// matching dictionary, which the walk keeps on purpose.
void expectBalanced() {
  const auto& given = standin::hid.matchingGiven;
  EXPECT_THAT(standin::errors(), IsEmpty());
  EXPECT_THAT(standin::unbalanced(given.empty() ? nullptr : given.front()), IsEmpty());
}

TEST(HidThermalWalk, FailuresYieldNothingAndReleaseWhatWasMade) {
  const std::vector<standin::Service> one{{standin::text("PMU tdie1"), 40.0}};
  const struct {
    standin::HidScript script;
    std::vector<std::string> calls;
  } cases[] = {
      {{true, false, one, {}}, {"create client"}},
      {{false, true, one, {}}, {"create client", "set matching", "copy services", "release client"}},
      {{}, {"create client", "set matching", "copy services", "release services", "release client"}},
  };
  for (const auto& c : cases) {
    standin::hid = c.script;
    standin::begin();
    EXPECT_THAT(walk(), IsEmpty());
    EXPECT_THAT(trace(), ElementsAreArray(c.calls));
    expectBalanced();
  }
}

TEST(HidThermalWalk, EveryServiceYieldsWhatThePlatformGaveAndIsReleasedWhenHandled) {
  standin::hid = {};
  standin::hid.services = {
      {standin::text("Température SoC"), 45.5},
      {standin::text("PMU tdev1"), std::nullopt},  // no current event
      {std::nullopt, 50.0},                         // no "Product"
      {standin::integer(7), 60.0},                  // a "Product" that is not text
  };
  standin::begin();
  EXPECT_THAT(walk(), ElementsAre(Fact{"Température SoC", 45.5}, Fact{"PMU tdev1", std::nullopt},
                                  Fact{std::nullopt, std::nullopt}, Fact{std::nullopt, std::nullopt}));
  // The event goes as soon as it is read, the name once its service is handled,
  // and a service without a usable name is not asked for its event.
  EXPECT_THAT(trace(), ElementsAre("create client", "set matching", "copy services",
                                   "copy name#0", "copy event#0", "read event#0", "release event#0", "yield",
                                   "release name#0",
                                   "copy name#1", "copy event#1", "yield", "release name#1",
                                   "copy name#2", "yield",
                                   "copy name#3", "yield", "release name#3",
                                   "release services", "release client"));
  expectBalanced();
}

TEST(HidThermalWalk, MatchingDictionaryIsBuiltOnceAndKeptForTheRun) {
  standin::hid = {};
  standin::begin();
  walk();
  walk();
  const auto& given = standin::hid.matchingGiven;
  ASSERT_THAT(given, ElementsAre(given.front(), given.front()));
  expectBalanced();

  const auto matching = static_cast<CFDictionaryRef>(given.front());
  const auto integerAt = [&](CFStringRef key) -> std::optional<std::int64_t> {
    const auto number = static_cast<CFNumberRef>(CFDictionaryGetValue(matching, key));
    std::int64_t value = 0;
    if (number == nullptr || CFNumberIsFloatType(number)) return std::nullopt;
    return CFNumberGetValue(number, kCFNumberSInt64Type, &value) ? std::optional(value) : std::nullopt;
  };
  EXPECT_EQ(CFDictionaryGetCount(matching), 2);
  EXPECT_EQ(integerAt(CFSTR("PrimaryUsagePage")), 0xFF00);
  EXPECT_EQ(integerAt(CFSTR("PrimaryUsage")), 5);
}

}  // namespace
