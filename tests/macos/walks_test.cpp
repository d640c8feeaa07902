// The macOS sensor walks, compiled unchanged against the counting stand-in in
// sdk/: on every path, each object handed to a walk goes back exactly once.

#include <gtest/gtest.h>

#include <algorithm>

#include <CoreFoundation/CoreFoundation.h>

#include "platform/SensorPlatform.h"

using namespace standin;

namespace {

struct Fact {
  std::optional<std::string> name{};
  std::optional<double> reading{};
  bool operator==(const Fact&) const = default;
};
using Yield = std::pair<std::string, std::optional<StatsTable>>;

struct Case {
  Script script;
  std::vector<Fact> facts{};
  std::vector<Yield> yielded{};
};

TEST(MacWalks, YieldWhatTheSystemHoldsAndGiveBackEverythingOnEveryPath) {
  const std::vector<Service> one = {{.product = text("PMU tdie1"), .reading = 40.0}};
  const Object busy = dictionary({{text("Device Utilization %"), whole(37)}});
  const Object everything = dictionary({
      {text("Device Utilization %"), whole(37)},
      {text("GPU Activity(%)"), {.kind = Kind::Number, .number = 0.6, .isFloat = true}},
      {text("In use"), {.kind = Kind::Boolean, .number = 1}},
      {text("Idle"), {.kind = Kind::Boolean}},
      {text("GPU Core Utilization"), text("42")},
      {text("Alloc system memory"), {.kind = Kind::Number, .wide = true}},
      {text("SplitSceneCount"), {.kind = Kind::Array, .items = {whole(1)}}},
      {whole(7), whole(99)},  // a key that is not text is left out
  });
  const StatsTable everyKind{{"Device Utilization %", std::int64_t{37}},
                             {"GPU Activity(%)", 0.6},
                             {"In use", true},
                             {"Idle", false},
                             {"GPU Core Utilization", std::string("42")},
                             {"Alloc system memory", StatOther{}},
                             {"SplitSceneCount", StatOther{}}};
  const Case cases[] = {
      {.script = {.failing = "IOHIDEventSystemClientCreate", .services = one}},
      {.script = {.failing = "IOHIDEventSystemClientCopyServices", .services = one}},
      {.script = {.failing = "IOServiceMatching", .accelerators = {{.statistics = busy}}}},
      {.script = {.failing = "IOServiceGetMatchingServices", .accelerators = {{.statistics = busy}}}},
      {.script = {.services = {{.product = text("Température SoC"), .reading = 45.5},
                               {.product = text("PMU tdev1")},
                               {.reading = 50.0},
                               {.product = whole(7), .reading = 60.0}},
                  .accelerators = {{.copy = Copy::Fails, .statistics = busy},
                                   {.copy = Copy::GivesNothing, .statistics = busy},
                                   {},
                                   {.statistics = text("busy")},
                                   {.statistics = everything}}},
       .facts = {{.name = "Température SoC", .reading = 45.5}, {.name = "PMU tdev1"}, {}, {}},
       .yielded = {{"IOAccelerator", std::nullopt},
                   {"IOAccelerator", std::nullopt},
                   {"AGXAccelerator", std::nullopt},
                   {"AGXAccelerator", std::nullopt},
                   {"AGXAccelerator", everyKind}}},
  };
  // The matching dictionary is kept on purpose, for the life of the process.
  const auto unreleased = [](const Object& object) { return object.state == State::Owned && &object != matchingKept; };
  for (const Case& c : cases) {
    script = c.script;
    const std::size_t first = handedOut.size();
    std::vector<Fact> facts;
    std::vector<Yield> yielded;
    platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
      facts.push_back({.name = name ? std::optional<std::string>(*name) : std::nullopt, .reading = reading});
    });
    platformWalkAccelerators([&](std::string_view name, const StatsTable* statistics) {
      yielded.emplace_back(name, statistics ? std::optional(*statistics) : std::nullopt);
    });
    EXPECT_EQ(facts, c.facts);
    EXPECT_EQ(yielded, c.yielded);
    EXPECT_EQ(std::count_if(handedOut.begin() + first, handedOut.end(), unreleased), 0);
  }
  EXPECT_NE(matchingKept, nullptr);
}

}  // namespace
