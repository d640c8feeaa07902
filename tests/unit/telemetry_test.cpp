#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Telemetry.h"

namespace {

std::string lineOf(float cpu, float avg, float gpu, float util) {
  const TelemetryLine line = formatTelemetryLine(cpu, avg, gpu, util);
  return std::string(line.bytes, line.size);
}

// Each figure is the float widened to double, then printed: 149.999999 narrows
// to 150.0f, 64.45f lies just below 64.45, 0.9995f just below 0.9995.
TEST(TelemetryLine, PrintsTheWidenedFloatsWithAFullStopWhateverTheLocale) {
  const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  const std::string lines[] = {lineOf(0, 0, 0, 0), lineOf(static_cast<float>(149.999999), 37.25f, 0.5f, 1.0f),
                               lineOf(64.45f, 64.55f, 99.95f, 0.9995f), lineOf(150, 150, 150, 1)};
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(lines[0], "{\"cpuTemp\":0.0,\"cpuTempAvg\":0.0,\"gpuTemp\":0.0,\"gpuUtil\":0.000}\n");
  EXPECT_EQ(lines[1], "{\"cpuTemp\":150.0,\"cpuTempAvg\":37.2,\"gpuTemp\":0.5,\"gpuUtil\":1.000}\n");
  EXPECT_EQ(lines[2], "{\"cpuTemp\":64.4,\"cpuTempAvg\":64.6,\"gpuTemp\":99.9,\"gpuUtil\":0.999}\n");
  EXPECT_EQ(lines[3].size(), 69u);
  if (!comma) GTEST_SKIP() << "de_DE.UTF-8 is not installed: the locale was not tried";
}

}  // namespace
