// The macOS sensor walks, compiled unchanged against the counting stand-in in
// sdk/: on every path, each object handed to a walk goes back exactly once.

#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include "platform/SensorPlatform.h"

using namespace standin;

namespace {

// What a case left behind: every error, and every object handed to the walk
// that was not given back, but for one it keeps on purpose.
std::vector<std::string> ledgerAfter(std::size_t firstObject, const void* kept = nullptr) {
  std::vector<std::string> problems;
  for (std::size_t i = firstObject; i < handedOut.size(); ++i)
    if (handedOut[i].owned && handedOut[i].references > 0 && &handedOut[i] != kept)
      problems.push_back("an object of kind " + std::to_string(static_cast<int>(handedOut[i].kind)) +
                         " never released");
  return problems.insert(problems.end(), errors.begin(), errors.end()), errors.clear(), problems;
}

using Fact = std::pair<std::optional<std::string>, std::optional<double>>;

TEST(HidThermalWalk, YieldsEachServiceAndGivesBackEverythingOnEveryPath) {
  const struct {
    Script script;
    std::vector<Fact> facts;
  } cases[] = {
      {{.clientFails = true, .services = {{text("PMU tdie1"), 40.0}}}, {}},
      {{.servicesFail = true, .services = {{text("PMU tdie1"), 40.0}}}, {}},
      {{}, {}},
      {{.services = {{text("Température SoC"), 45.5},
                     {text("PMU tdev1"), std::nullopt},
                     {std::nullopt, 50.0},
                     {whole(7), 60.0}}},
       {{"Température SoC", 45.5},
        {"PMU tdev1", std::nullopt},
        {std::nullopt, std::nullopt},
        {std::nullopt, std::nullopt}}},
  };
  for (const auto& c : cases) {
    script = c.script;
    const std::size_t first = handedOut.size();
    std::vector<Fact> facts;
    platformWalkThermalServices([&](std::optional<std::string_view> name, std::optional<double> reading) {
      facts.emplace_back(name ? std::optional<std::string>(*name) : std::nullopt, reading);
    });
    EXPECT_EQ(facts, c.facts);
    // The matching dictionary is built once and kept for the run.
    EXPECT_EQ(ledgerAfter(first, matchingGiven.empty() ? nullptr : matchingGiven.front()), std::vector<std::string>{});
  }
  ASSERT_FALSE(matchingGiven.empty());
  EXPECT_EQ(std::vector<const void*>(matchingGiven.size(), matchingGiven.front()), matchingGiven);
}

TEST(AcceleratorWalk, YieldsEachTableOfStatisticsAndGivesBackEverythingOnEveryPath) {
  const StatsTable everyKind{{"Device Utilization %", std::int64_t{37}},
                             {"GPU Activity(%)", 0.6},
                             {"In use", true},
                             {"Idle", false},
                             {"GPU Core Utilization", std::string("42")},
                             {"Alloc system memory", StatOther{}},
                             {"SplitSceneCount", StatOther{}}};
  using Yield = std::pair<std::string, std::optional<StatsTable>>;
  const struct {
    Script script;
    std::vector<Yield> yielded;
  } cases[] = {
      {{.matchingFails = true, .accelerators = {{Copy::Table, dictionary({text("Device Utilization %"), whole(37)})}}},
       {}},
      {{.queryFails = true, .accelerators = {{Copy::Table, dictionary({text("Device Utilization %"), whole(37)})}}},
       {}},
      {{}, {}},
      {{.accelerators = {{Copy::Fails, dictionary({text("Device Utilization %"), whole(10)})},
                         {Copy::GivesNothing, dictionary({text("Device Utilization %"), whole(20)})},
                         {Copy::Table, std::nullopt},
                         {Copy::Table, text("busy")},
                         {Copy::Table, dictionary({text("Device Utilization %"), whole(37)})}}},
       {{"IOAccelerator", std::nullopt},
        {"IOAccelerator", std::nullopt},
        {"AGXAccelerator", std::nullopt},
        {"AGXAccelerator", std::nullopt},
        {"AGXAccelerator", StatsTable{{"Device Utilization %", std::int64_t{37}}}}}},
      {{.accelerators = {{Copy::Table, dictionary({text("Device Utilization %"),
                                                   whole(37),
                                                   text("GPU Activity(%)"),
                                                   {.kind = Kind::Number, .number = 0.6, .isFloat = true},
                                                   text("In use"),
                                                   {.kind = Kind::Boolean, .number = 1},
                                                   text("Idle"),
                                                   {.kind = Kind::Boolean},
                                                   text("GPU Core Utilization"),
                                                   text("42"),
                                                   text("Alloc system memory"),
                                                   {.kind = Kind::Number, .wide = true},  // wider than 64 bits
                                                   text("SplitSceneCount"),
                                                   {.kind = Kind::Array, .items = {whole(1)}},
                                                   whole(7),
                                                   whole(99)})}}},  // a key that is not text is left out
       {{"AGXAccelerator", everyKind}}},
  };
  for (const auto& c : cases) {
    script = c.script;
    const std::size_t first = handedOut.size();
    std::vector<Yield> yielded;
    platformWalkAccelerators([&](std::string_view name, const StatsTable* statistics) {
      yielded.emplace_back(name, statistics ? std::optional(*statistics) : std::nullopt);
    });
    EXPECT_EQ(yielded, c.yielded);
    EXPECT_EQ(ledgerAfter(first), std::vector<std::string>{});
  }
}

}  // namespace
