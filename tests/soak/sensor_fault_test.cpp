#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Reader.h"
#include "SoakSession.h"

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

// Two copies of the desktop fixture, one of them with sensor files that
// block or fail, behind a `class` symlink that the test swaps while the
// helper runs. A swap is one rename, so each walk sees one tree or the other.
class SensorTree {
 public:
  SensorTree() {
    fs::remove_all(root_);
    for (const char* copy : {"healthy", "faulty"}) {
      fs::create_directories(root_ / copy);
      fs::copy(DESKTOP_FIXTURE "/class", root_ / copy / "class", fs::copy_options::recursive);
    }
    const fs::path faulty = root_ / "faulty/class";
    fifo(faulty / "hwmon/hwmon1/temp1_input", false);  // an open without O_NONBLOCK would wait for a writer for ever
    fs::remove(faulty / "hwmon/hwmon1/temp2_input");
    fs::create_directory(faulty / "hwmon/hwmon1/temp2_input");  // read fails with EISDIR
    fs::remove(faulty / "hwmon/hwmon10/temp2_input");
    fs::create_symlink("/proc/self/mem", faulty / "hwmon/hwmon10/temp2_input");  // opens, then read fails with EIO
    fifo(faulty / "hwmon/hwmon10/temp3_input", true);  // a writer that never writes: a read would wait for ever
    fifo(faulty / "hwmon/hwmon10/device/power/runtime_status", false);
    fifo(faulty / "hwmon/hwmon3", false);  // a chip that is no folder
    fifo(faulty / "drm/card0/device/gpu_busy_percent", true);
    fifo(faulty / "drm/card1", false);
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
  void fifo(const fs::path& path, bool withIdleWriter) {
    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
    // Opening for both reading and writing never waits, and keeps a writer there.
    if (withIdleWriter) writers_.push_back(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
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
    for (std::size_t i = 0; i < f->size(); ++i)
      if ((*f)[i] != from[i] && (*f)[i] != to[i]) return "wrong figures " + *text;
    if (*f == to) {
      ++steady;
    } else if (steady > 0) {
      return "went back to " + *text + " after the new figures";
    } else if (line > kSwitchLines) {
      return "still not the new figures after " + std::to_string(kSwitchLines) + " lines: " + *text;
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
  const int descriptors = session.descriptorCount();

  tree.pointAt("faulty");
  EXPECT_EQ(followStream(client, kHealthy, kFaulty), "");
  tree.pointAt("healthy");
  EXPECT_EQ(followStream(client, kFaulty, kHealthy), "");

  EXPECT_EQ(session.descriptorCount(), descriptors) << "a failed read left a descriptor open";
  EXPECT_TRUE(session.alive());
  session.table().update();
  EXPECT_EQ(session.table().faults, std::vector<std::string>{});
  EXPECT_EQ(session.table().disconnects, 0);
}

}  // namespace
