#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/DrmWalk.h"
#include "platform/linux/HwmonWalk.h"

namespace {

using Services = std::vector<std::pair<std::string, std::optional<double>>>;

Services hwmon(const std::string& root) {
  Services services;
  walkHwmon(root, [&](std::optional<std::string_view> name, std::optional<double> reading) {
    services.emplace_back(name.value(), reading);
  });
  return services;
}

std::vector<StatsTable> drmCards(const std::string& root) {
  std::vector<StatsTable> cards;
  walkDrmCards(root, [&cards](const StatsTable& statistics) { cards.push_back(statistics); });
  return cards;
}

std::string fixture(const char* name) { return std::string(PELAGRIN_FIXTURES) + "/" + name; }

TEST(HwmonWalk, NamesEachSensorByChipAndLabel) {
  EXPECT_EQ(hwmon(fixture("desktop")),
            (Services{{"acpitz temp1", 27.8}, {"CPU coretemp Package id 0", 52.0}, {"CPU coretemp Core 0", 48.0},
                      {"CPU coretemp Core 1", 50.5}, {"nvme Composite", 38.85}, {"nvme Sensor 1", 38.85},
                      {"amdgpu edge", 45.0}, {"amdgpu junction", 47.0}, {"amdgpu mem", 44.0}}));
  // nouveau's empty label reads as "tempN", like a missing one.
  EXPECT_EQ(hwmon(fixture("k10temp")),
            (Services{{"CPU k10temp Tctl", 61.25}, {"CPU k10temp Tccd1", 55.0}, {"GPU nouveau temp1", 40.0}}));
}

TEST(HwmonWalk, SkipsSuspendedChipsAndMissingClass) {
  EXPECT_EQ(hwmon(fixture("suspended-dgpu")), (Services{{"CPU coretemp Package id 0", 45.0}}));
  EXPECT_TRUE(hwmon(fixture("no-hwmon")).empty());
}

// A FIFO with no writer must not hang the walk.
TEST(HwmonWalk, UnreadableInputsGiveNoReading) {
  char pattern[] = "/tmp/pelagrin-sysfs-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path root(pattern), chip = root / "class/hwmon/hwmon0";
  std::filesystem::create_directories(chip / "temp1_input");
  ASSERT_EQ(mkfifo((chip / "temp2_input").c_str(), 0600), 0);
  std::ofstream(chip / "temp3_input") << "hot\n";
  std::ofstream(chip / "temp4_input") << "41000\n";
  std::ofstream(chip / "name") << "coretemp\n";
  EXPECT_EQ(hwmon(root), (Services{{"CPU coretemp temp1", std::nullopt}, {"CPU coretemp temp2", std::nullopt},
                                   {"CPU coretemp temp3", std::nullopt}, {"CPU coretemp temp4", 41.0}}));
  std::filesystem::remove_all(root);
}

TEST(DrmWalk, ReadsBusyPercentOfAwakeCardsOnly) {
  // card0-DP-1 is a connector and renderD128 a render node: neither is a card.
  EXPECT_EQ(drmCards(fixture("desktop")), (std::vector<StatsTable>{{{"Device Utilization %", std::int64_t{7}}}}));
  EXPECT_TRUE(drmCards(fixture("suspended-dgpu")).empty());
  EXPECT_TRUE(drmCards(fixture("no-hwmon")).empty());
}

}  // namespace
