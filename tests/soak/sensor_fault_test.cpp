#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProcessProbe.h"
#include "SoakSession.h"
#include "TelemetryLineParser.h"

namespace {

namespace fs = std::filesystem;

// The desktop fixture without NVML: coretemp 52, 48 and 50.5, amdgpu 45, 47
// and 44, card0 7 % busy.
const TelemetryFigures kHealthy{520, 502, 470, 70};
// With coretemp's first two inputs and amdgpu's last two unreadable, and no busy figure.
const TelemetryFigures kFaulty{505, 505, 450, 0};
constexpr int kStallMs = 1000;  // a cycle is 10 ms
constexpr int kSteadyLines = 50;
constexpr int kSwitchLines = 100;

std::string figuresText(const TelemetryFigures& f) {
  return std::to_string(f.cpuTempTenths) + "/" + std::to_string(f.cpuTempAvgTenths) + "/" +
         std::to_string(f.gpuTempTenths) + "/" + std::to_string(f.gpuUtilThousandths);
}

// Two copies of the desktop fixture, one of them with sensor files that
// block or fail, behind a `class` symlink that the test swaps while the
// helper runs. A swap is one rename, so each walk sees one tree or the other.
class SensorTree {
 public:
  SensorTree() {
    fs::remove_all(root_);
    fs::create_directories(root_ / "healthy");
    fs::create_directories(root_ / "faulty");
    fs::copy(DESKTOP_FIXTURE "/class", root_ / "healthy/class", fs::copy_options::recursive);
    fs::copy(DESKTOP_FIXTURE "/class", root_ / "faulty/class", fs::copy_options::recursive);
    breakFiles(root_ / "faulty/class");
  }

  ~SensorTree() {
    for (const int fd : writers_) close(fd);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  SensorTree(const SensorTree&) = delete;
  SensorTree& operator=(const SensorTree&) = delete;

  void pointAt(const char* which) {
    const fs::path next = root_ / "class.next";
    fs::remove(next);
    fs::create_symlink(fs::path(which) / "class", next);
    fs::rename(next, root_ / "class");
  }

 private:
  void breakFiles(const fs::path& tree) {
    fifo(tree / "hwmon/hwmon1/temp1_input", false);  // an open without O_NONBLOCK would wait for a writer for ever
    replaceWithDirectory(tree / "hwmon/hwmon1/temp2_input");  // read fails with EISDIR
    fs::remove(tree / "hwmon/hwmon10/temp2_input");
    fs::create_symlink("/proc/self/mem", tree / "hwmon/hwmon10/temp2_input");  // opens, then read fails with EIO
    fifo(tree / "hwmon/hwmon10/temp3_input", true);  // a writer that never writes: a read would wait for ever
    fifo(tree / "hwmon/hwmon10/device/power/runtime_status", false);
    fifo(tree / "hwmon/hwmon3", false);  // a chip that is no folder
    fifo(tree / "drm/card0/device/gpu_busy_percent", true);
    fifo(tree / "drm/card1", false);
  }

  void fifo(const fs::path& path, bool withIdleWriter) {
    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
    // Opening for both reading and writing never waits, and keeps a writer there.
    if (withIdleWriter) writers_.push_back(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  }

  static void replaceWithDirectory(const fs::path& path) {
    fs::remove(path);
    fs::create_directory(path);
  }

  const fs::path root_ = FAULTY_SYSFS_ROOT;
  std::vector<int> writers_;
};

// Reads until a line shows `to`, then `kSteadyLines` more that must all show
// it. On the way each line must come within kStallMs, and each figure must
// be the one of `from` or of `to`. Returns what went wrong, or nothing.
std::string followStream(TelemetryClient& client, const TelemetryFigures& from, const TelemetryFigures& to) {
  int steady = 0;
  for (int line = 0; steady < kSteadyLines; ++line) {
    const std::optional<std::string> text = client.readLine(kStallMs);
    if (!text) return "no line within " + std::to_string(kStallMs) + " ms: the stream stalled";
    const std::optional<TelemetryFigures> f = parseTelemetryLine(*text);
    if (!f) return "malformed line " + *text;
    const auto either = [](int value, int a, int b) { return value == a || value == b; };
    if (!either(f->cpuTempTenths, from.cpuTempTenths, to.cpuTempTenths) ||
        !either(f->cpuTempAvgTenths, from.cpuTempAvgTenths, to.cpuTempAvgTenths) ||
        !either(f->gpuTempTenths, from.gpuTempTenths, to.gpuTempTenths) ||
        !either(f->gpuUtilThousandths, from.gpuUtilThousandths, to.gpuUtilThousandths))
      return "wrong figures " + *text;
    if (*f == to) {
      ++steady;
    } else if (steady > 0) {
      return "went back to " + figuresText(*f) + " after showing " + figuresText(to);
    } else if (line > kSwitchLines) {
      return "still not " + figuresText(to) + " after " + std::to_string(kSwitchLines) + " lines";
    }
  }
  return "";
}

TEST(SensorFaults, StreamKeepsItsPaceAndItsNumbersWhileSensorFilesBlockOrFail) {
  SensorTree tree;
  tree.pointAt("healthy");
  ScratchFolder scratch;
  SoakSession session(FAULTY_HELPER_BIN, {}, scratch.path() + "/helper.log");
  ASSERT_TRUE(session.awaitListening(5000));
  TelemetryClient client;
  ASSERT_TRUE(session.awaitClients(1, 2000));
  EXPECT_EQ(followStream(client, kHealthy, kHealthy), "");
  const int descriptors = openDescriptorCount(session.helper().pid());

  tree.pointAt("faulty");
  EXPECT_EQ(followStream(client, kHealthy, kFaulty), "");
  tree.pointAt("healthy");
  EXPECT_EQ(followStream(client, kFaulty, kHealthy), "");

  EXPECT_EQ(openDescriptorCount(session.helper().pid()), descriptors) << "a failed read left a descriptor open";
  EXPECT_TRUE(session.alive());
  session.table().update();
  EXPECT_TRUE(session.table().faults().empty());
  EXPECT_EQ(session.table().disconnects(), 0);
}

}  // namespace
