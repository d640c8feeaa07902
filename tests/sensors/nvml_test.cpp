#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/linux/NvmlSession.h"
#include "platform/linux/NvmlWalk.h"

namespace {

nvmlReturn_t initResult = kNvmlSuccess;
int inits = 0, shutdowns = 0;
const NvmlApi kFakeApi{[] { return ++inits, initResult; }, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
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

using Sensors = std::vector<std::pair<std::string, double>>;

Sensors sensorsOf(const NvmlApi& api, const std::string& sysfsRoot) {
  Sensors sensors;
  walkNvmlSensors(api, sysfsRoot, [&](std::optional<std::string_view> name, std::optional<double> reading) {
    sensors.emplace_back(name.value_or("none"), reading.value_or(-1.0));
  });
  return sensors;
}

std::vector<StatsTable> acceleratorsOf(const NvmlApi& api, const std::string& sysfsRoot) {
  std::vector<StatsTable> accelerators;
  walkNvmlAccelerators(api, sysfsRoot, [&](const StatsTable& statistics) { accelerators.push_back(statistics); });
  return accelerators;
}

StatsTable busy(std::int64_t percent) { return {{"Device Utilization %", percent}}; }

const Sensors kAllThree{
    {"GPU 0 Fake Accelerator", 61.0}, {"GPU 1 Fake Accelerator", 44.0}, {"GPU 2 Fake Accelerator", 40.0}};

TEST(NvmlWalk, EachDeviceIsASensorAndAnAccelerator) {
  NvmlSharedLibrary library(FAKE_NVML);
  const NvmlApi* api = library.open();
  ASSERT_NE(api, nullptr);
  // The desktop tree has no bus/pci: nothing there says a device sleeps.
  EXPECT_EQ(sensorsOf(*api, PELAGRIN_FIXTURES "/desktop"), kAllThree);
  EXPECT_EQ(acceleratorsOf(*api, PELAGRIN_FIXTURES "/desktop"), (std::vector<StatsTable>{busy(5), busy(3), busy(2)}));
  library.close();
  EXPECT_FALSE(isLoaded(FAKE_NVML));
}

// A scratch sysfs tree holding the runtime power state of the fake's GPU 0 and GPU 1.
class PciPowerTree {
 public:
  PciPowerTree(const char* gpu0Status, const char* gpu1Status) {
    char pattern[] = "/tmp/pelagrin-pci-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a scratch folder");
    root_ = pattern;
    writeStatus("0000:0a:00.0", gpu0Status);
    writeStatus("0000:0b:1f.0", gpu1Status);
  }
  ~PciPowerTree() { std::filesystem::remove_all(root_); }
  const std::string& root() const { return root_; }

 private:
  void writeStatus(const char* address, const char* status) {
    const std::filesystem::path power = std::filesystem::path(root_) / "bus/pci/devices" / address / "power";
    std::filesystem::create_directories(power);
    std::ofstream(power / "runtime_status") << status << "\n";
  }

  std::string root_;
};

TEST(NvmlWalk, SuspendedDevicesAreNotQueriedAndDevicesWithoutPciInfoAre) {
  NvmlSharedLibrary library(FAKE_NVML);
  const NvmlApi* api = library.open();
  ASSERT_NE(api, nullptr);
  const PciPowerTree gpu0Asleep("suspended", "active");
  EXPECT_EQ(sensorsOf(*api, gpu0Asleep.root()), (Sensors{kAllThree[1], kAllThree[2]}));
  EXPECT_EQ(acceleratorsOf(*api, gpu0Asleep.root()), (std::vector<StatsTable>{busy(3), busy(2)}));
  const PciPowerTree gpu1Asleep("active", "suspended");
  EXPECT_EQ(sensorsOf(*api, gpu1Asleep.root()), (Sensors{kAllThree[0], kAllThree[2]}));
  EXPECT_EQ(acceleratorsOf(*api, gpu1Asleep.root()), (std::vector<StatsTable>{busy(5), busy(2)}));

  // A driver without nvmlDeviceGetPciInfo_v3 still loads, and every device is read.
  NvmlSharedLibrary older(FAKE_NVML_WITHOUT_PCI_INFO);
  const NvmlApi* olderApi = older.open();
  ASSERT_NE(olderApi, nullptr);
  EXPECT_EQ(sensorsOf(*olderApi, gpu0Asleep.root()), kAllThree);
  EXPECT_EQ(acceleratorsOf(*olderApi, gpu0Asleep.root()), (std::vector<StatsTable>{busy(5), busy(3), busy(2)}));
}

}  // namespace
