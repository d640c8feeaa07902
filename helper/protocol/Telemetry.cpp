#include "Telemetry.h"

#include <clocale>
#include <cstdio>
#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace {

// The consumer parses JSON, so the decimal separator must not follow the
// user's locale; the "C" locale is made once and applied to this thread only.
locale_t numericLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

}  // namespace

TelemetryLine formatTelemetryLine(float cpuTemp, float cpuTempAvg, float gpuTemp, float gpuUtil) {
  TelemetryLine line{};
  const locale_t previous = uselocale(numericLocale());
  const int n = snprintf(line.bytes, sizeof line.bytes,
                         "{\"cpuTemp\":%.1f,\"cpuTempAvg\":%.1f,\"gpuTemp\":%.1f,\"gpuUtil\":%.3f}\n",
                         static_cast<double>(cpuTemp), static_cast<double>(cpuTempAvg), static_cast<double>(gpuTemp),
                         static_cast<double>(gpuUtil));
  uselocale(previous);
  line.size = (n > 0 && static_cast<std::size_t>(n) < sizeof line.bytes) ? static_cast<std::size_t>(n) : 0;
  return line;
}
