#include <gtest/gtest.h>

#include <dlfcn.h>

#include "platform/linux/NvmlSession.h"
#include "platform/linux/NvmlWalk.h"

namespace {

nvmlReturn_t initResult = kNvmlSuccess;
int inits = 0, shutdowns = 0;
const NvmlApi kFakeApi{[] { return ++inits, initResult; }, nullptr, nullptr, nullptr, nullptr, nullptr,
                       [] { return ++shutdowns, kNvmlSuccess; }};

struct FakeLibrary final : NvmlLibrary {
  bool present = true;
  int opens = 0, closes = 0;
  const NvmlApi* open() override {
    ++opens;
    return present ? &kFakeApi : nullptr;
  }
  void close() override { ++closes; }
};

class NvmlSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { initResult = kNvmlSuccess, inits = shutdowns = 0; }

  FakeLibrary library;
  std::chrono::steady_clock::time_point now{};
  NvmlSession session{library, [this] { return now; }};
};

TEST_F(NvmlSessionTest, InitialisesOnceAndShutsDownAtTheEnd) {
  {
    NvmlSession once(library);
    EXPECT_EQ(once.api(), &kFakeApi);
    EXPECT_EQ(once.api(), &kFakeApi);
  }
  EXPECT_EQ(inits, 1);
  EXPECT_EQ(shutdowns, 1);
  EXPECT_EQ(library.closes, 1);
}

TEST_F(NvmlSessionTest, FailedInitClosesTheLibraryAndIsRetriedAfterAMinute) {
  initResult = 999;
  EXPECT_EQ(session.api(), nullptr);
  EXPECT_EQ(library.closes, 1);
  now += std::chrono::seconds(59);
  EXPECT_EQ(session.api(), nullptr);
  EXPECT_EQ(library.opens, 1);
  initResult = kNvmlSuccess;
  now += std::chrono::seconds(1);
  EXPECT_EQ(session.api(), &kFakeApi);
}

TEST_F(NvmlSessionTest, MissingLibraryIsRetriedAtMostOnceAMinute) {
  library.present = false;
  for (int second = 0; second < 120; second += 10, now += std::chrono::seconds(10)) EXPECT_EQ(session.api(), nullptr);
  EXPECT_EQ(library.opens, 2);
  EXPECT_EQ(inits, 0);
}

bool isLoaded(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  return handle && dlclose(handle) == 0;
}

TEST(NvmlSharedLibrary, GivesACompleteTableOrLeavesNothingLoaded) {
  EXPECT_EQ(NvmlSharedLibrary("/nonexistent/libnvidia-ml.so.1").open(), nullptr);
  NvmlSharedLibrary incomplete(FAKE_NVML_INCOMPLETE);
  EXPECT_EQ(incomplete.open(), nullptr);
  EXPECT_FALSE(isLoaded(FAKE_NVML_INCOMPLETE));
}

TEST(NvmlWalk, EachDeviceIsASensorAndAnAccelerator) {
  NvmlSharedLibrary library(FAKE_NVML);
  const NvmlApi* api = library.open();
  ASSERT_NE(api, nullptr);
  std::vector<std::pair<std::string, double>> sensors;
  walkNvmlSensors(*api, [&](std::optional<std::string_view> name, std::optional<double> reading) {
    sensors.emplace_back(name.value_or("none"), reading.value_or(-1.0));
  });
  std::vector<StatsTable> accelerators;
  walkNvmlAccelerators(*api, [&](const StatsTable& statistics) { accelerators.push_back(statistics); });
  EXPECT_EQ(sensors, (std::vector<std::pair<std::string, double>>{{"GPU 0 Fake Accelerator", 61.0}}));
  EXPECT_EQ(accelerators, (std::vector<StatsTable>{{{"Device Utilization %", std::int64_t{5}}}}));
  library.close();
  EXPECT_FALSE(isLoaded(FAKE_NVML));
}

}  // namespace
