#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Telemetry.h"

namespace {

std::string lineOf(float cpu, float avg, float gpu, float util) {
  const TelemetryLine line = formatTelemetryLine(cpu, avg, gpu, util);
  return std::string(line.bytes, line.size);
}

TEST(TelemetryLine, AllZeroIsTheSixtyThreeByteLine) {
  const std::string line = lineOf(0, 0, 0, 0);
  EXPECT_EQ(line, "{\"cpuTemp\":0.0,\"cpuTempAvg\":0.0,\"gpuTemp\":0.0,\"gpuUtil\":0.000}\n");
  EXPECT_EQ(line.size(), 63u);
}

TEST(TelemetryLine, ValuesArePrintedAsWidenedDoubles) {
  // 149.999999 narrows to 150.0f; 37.25 is exact in binary and printf rounds it to even.
  const auto narrowed = static_cast<float>(149.999999);
  EXPECT_EQ(lineOf(narrowed, 37.25f, 0.5f, 1.0f),
            "{\"cpuTemp\":150.0,\"cpuTempAvg\":37.2,\"gpuTemp\":0.5,\"gpuUtil\":1.000}\n");
  // Rounding follows the widened float, not the decimal it was written as:
  // 64.45f lies just below 64.45, 64.55f just above, 0.9995f just below 0.9995.
  EXPECT_EQ(lineOf(64.45f, 64.55f, 99.95f, 0.9995f),
            "{\"cpuTemp\":64.4,\"cpuTempAvg\":64.6,\"gpuTemp\":99.9,\"gpuUtil\":0.999}\n");
}

TEST(TelemetryLine, LongestInRangeLineIsSixtyNineBytes) {
  EXPECT_EQ(lineOf(150, 150, 150, 1).size(), 69u);
}

TEST(TelemetryLine, DecimalSeparatorIgnoresTheLocale) {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  }
  const std::string line = lineOf(41.5f, 40.25f, 0, 0.125f);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(line, "{\"cpuTemp\":41.5,\"cpuTempAvg\":40.2,\"gpuTemp\":0.0,\"gpuUtil\":0.125}\n");
}

}  // namespace
