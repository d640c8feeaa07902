#include <gtest/gtest.h>

#include "HelperProcess.h"

namespace {

// The real service and the real Linux walks over the desktop fixture tree,
// with the fake NVML library: every source reaches the line. The hwmon
// coretemp chip gives the CPU figures (mean of 48, 50.5 and 52), NVML's
// "GPU 0 Fake Accelerator" at 61 beats amdgpu's 47, and DRM's 7 % beats
// NVML's 5 %.
TEST(SensorsEndToEnd, TelemetryLineCarriesTheFixtureReadings) {
  HelperProcess helper(PELAGRIN_FIXTURE_HELPER);
  ASSERT_TRUE(helper.waitForLog("[Helper] Listening on 127.0.0.1:27830", 5000));
  TelemetryClient client;
  ASSERT_TRUE(client.connected());
  for (int cycle = 0; cycle < 3; ++cycle)
    EXPECT_EQ(client.readLine(3000), "{\"cpuTemp\":52.0,\"cpuTempAvg\":50.2,\"gpuTemp\":61.0,\"gpuUtil\":0.070}\n");
}

}  // namespace
