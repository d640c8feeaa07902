// The HID temperature walk against the counting stand-in: each failure path,
// the facts yielded per service, and the point at which each object is released.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CoreFoundationCounters.h"
#include "HidScript.h"
#include "Ledger.h"
#include "platform/SensorPlatform.h"

namespace {

using standin::FakeService;
using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Fact {
  std::optional<std::string> name;
  std::optional<double> reading;
};

bool sameReading(std::optional<double> a, std::optional<double> b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || *a == *b || (std::isnan(*a) && std::isnan(*b));
}

bool operator==(const Fact& a, const Fact& b) { return a.name == b.name && sameReading(a.reading, b.reading); }

void PrintTo(const Fact& fact, std::ostream* out) {
  *out << "(" << (fact.name ? "\"" + *fact.name + "\"" : "no name") << ", ";
  if (fact.reading) {
    *out << *fact.reading << ")";
  } else {
    *out << "no reading)";
  }
}

const Fact kNothing{std::nullopt, std::nullopt};

FakeService named(std::string name, std::optional<double> reading) {
  return {standin::textValue(std::move(name)), reading};
}

class HidThermalWalk : public testing::Test {
 protected:
  void SetUp() override {
    standin::hidScript() = {};
    standin::ledger().begin();
  }

  // Every case ends with each handed-out object released exactly once and
  // nothing alive but the matching dictionary, which the walk keeps on purpose.
  void TearDown() override {
    const auto& given = standin::hidScript().matchingGiven;
    EXPECT_THAT(standin::ledger().errors(), IsEmpty());
    EXPECT_THAT(standin::ledger().unbalanced(given.empty() ? nullptr : given.front()), IsEmpty());
  }

  static std::vector<Fact> walk() {
    std::vector<Fact> facts;
    platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
      standin::ledger().note("yield");
      facts.push_back({name ? std::optional<std::string>(*name) : std::nullopt, reading});
    });
    return facts;
  }

  // The walk's calls, less the one-off building of the matching dictionary,
  // which happens in whichever case of the process walks first.
  static std::vector<std::string> trace() {
    std::vector<std::string> calls;
    for (const std::string& entry : standin::ledger().trace()) {
      if (entry.rfind("release number", 0) != 0) calls.push_back(entry);
    }
    return calls;
  }
};

TEST_F(HidThermalWalk, ClientThatCannotBeCreatedEndsTheWalkAtOnce) {
  standin::hidScript().clientFails = true;
  standin::hidScript().services = {named("PMU tdie1", 40.0)};
  EXPECT_THAT(walk(), IsEmpty());
  EXPECT_THAT(trace(), ElementsAre("create client"));
}

TEST_F(HidThermalWalk, MissingServiceListReleasesTheClient) {
  standin::hidScript().servicesFail = true;
  standin::hidScript().services = {named("PMU tdie1", 40.0)};
  EXPECT_THAT(walk(), IsEmpty());
  EXPECT_THAT(trace(), ElementsAre("create client", "set matching", "copy services", "release client"));
}

TEST_F(HidThermalWalk, EmptyServiceListReleasesListAndClient) {
  EXPECT_THAT(walk(), IsEmpty());
  EXPECT_THAT(trace(), ElementsAre("create client", "set matching", "copy services", "release services",
                                   "release client"));
}

TEST_F(HidThermalWalk, EveryServiceIsVisitedAndYieldsWhatThePlatformGave) {
  standin::hidScript().services = {
      named("PMU tdie1", 45.5),
      {std::nullopt, 50.0},             // no "Product"
      {standin::intValue(7), 60.0},     // a "Product" that is not text
      named("PMU tdev1", std::nullopt),  // no current event
      named("gas gauge battery", kNaN),
      named("PMU TDIE1", 150.0),
      named("Température SoC", -3.0),
      named("PMU tdie1", 47.25),
  };
  EXPECT_THAT(walk(), ElementsAre(Fact{"PMU tdie1", 45.5}, kNothing, kNothing, Fact{"PMU tdev1", std::nullopt},
                                  Fact{"gas gauge battery", kNaN}, Fact{"PMU TDIE1", 150.0},
                                  Fact{"Température SoC", -3.0}, Fact{"PMU tdie1", 47.25}));
  // A service without a usable name is not asked for its event.
  EXPECT_THAT(trace(), Not(Contains("copy event#1")));
  EXPECT_THAT(trace(), Not(Contains("copy event#2")));
}

TEST_F(HidThermalWalk, ReleasesEachObjectWhereTheWalkIsDoneWithIt) {
  standin::hidScript().services = {
      named("PMU tdie1", 40.0),
      named("PMU tdev1", std::nullopt),
      {std::nullopt, 50.0},
      {standin::intValue(7), 60.0},
  };
  walk();
  EXPECT_THAT(trace(), ElementsAre("create client", "set matching", "copy services",
                                   // the event goes as soon as it is read, the name once the service is handled
                                   "copy name#0", "copy event#0", "read event#0", "release event#0", "yield",
                                   "release name#0",
                                   "copy name#1", "copy event#1", "yield", "release name#1",
                                   "copy name#2", "yield",
                                   "copy name#3", "yield", "release name#3",
                                   "release services", "release client"));
}

TEST_F(HidThermalWalk, MatchingDictionaryIsBuiltOnceAndKeptForTheRun) {
  standin::hidScript().services = {named("PMU tdie1", 40.0)};
  walk();
  walk();
  walk();

  const auto& given = standin::hidScript().matchingGiven;
  ASSERT_EQ(given.size(), 3u);
  EXPECT_EQ(given[1], given[0]);
  EXPECT_EQ(given[2], given[0]);
  EXPECT_EQ(standin::dictionariesCreated(), 1u);

  const auto matching = static_cast<CFDictionaryRef>(given[0]);
  EXPECT_EQ(CFDictionaryGetCount(matching), 2);
  const auto page = static_cast<CFNumberRef>(CFDictionaryGetValue(matching, CFSTR("PrimaryUsagePage")));
  const auto usage = static_cast<CFNumberRef>(CFDictionaryGetValue(matching, CFSTR("PrimaryUsage")));
  ASSERT_NE(page, nullptr);
  ASSERT_NE(usage, nullptr);
  EXPECT_FALSE(CFNumberIsFloatType(page));
  EXPECT_FALSE(CFNumberIsFloatType(usage));
  std::int64_t pageValue = 0;
  std::int64_t usageValue = 0;
  EXPECT_TRUE(CFNumberGetValue(page, kCFNumberSInt64Type, &pageValue));
  EXPECT_TRUE(CFNumberGetValue(usage, kCFNumberSInt64Type, &usageValue));
  EXPECT_EQ(pageValue, 0xFF00);
  EXPECT_EQ(usageValue, 5);
}

}  // namespace
