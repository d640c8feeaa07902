// CPU time per broadcast cycle of the helper over the 64-sensor tree: the
// main thread's user + system ticks across N telemetry lines.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "HelperProcess.h"
#include "SensorTree.h"

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 2000;
  writeSensorTree(PELAGRIN_BENCH_TREE);
  HelperProcess helper(PELAGRIN_BENCH_HELPER);
  TelemetryClient client;
  if (!helper.waitForLog("[Helper] Listening", 5000) || !client.connected() || !client.readLine(5000)) {
    std::fprintf(stderr, "the helper did not start (is port 27830 free?)\n");
    return 1;
  }
  const long long startTicks = threadCpuTicks(helper.pid(), helper.pid());
  const long long startMs = monotonicMs();
  for (int line = 0; line < cycles; ++line) {
    if (!client.readLine(5000)) {
      std::fprintf(stderr, "telemetry stopped after %d lines\n", line);
      return 1;
    }
  }
  const double cpuMs = static_cast<double>(threadCpuTicks(helper.pid(), helper.pid()) - startTicks) * 1000.0 /
                       static_cast<double>(sysconf(_SC_CLK_TCK));
  std::printf("cycles %d, wall %.0f ms, main-thread CPU %.0f ms, CPU per cycle %.1f us\n", cycles,
              static_cast<double>(monotonicMs() - startMs), cpuMs, cpuMs * 1000.0 / cycles);
  return 0;
}
