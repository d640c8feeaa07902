#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "protocol/Telemetry.h"

// How each figure rounds is pinned by the report fixtures, line for line; here,
// that a user's locale with a decimal comma leaves the line alone.
TEST(TelemetryLine, PrintsAFullStopWhateverTheLocale) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed: the locale was not tried";
  const TelemetryLine line = formatTelemetryLine(64.45f, 37.25f, 0.5f, 0.9995f);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(std::string(line.bytes, line.size),
            "{\"cpuTemp\":64.4,\"cpuTempAvg\":37.2,\"gpuTemp\":0.5,\"gpuUtil\":0.999}\n");
}
