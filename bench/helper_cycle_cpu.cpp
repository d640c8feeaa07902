// CPU time per broadcast cycle of the helper over the 64-sensor tree: the
// main thread's user + system ticks across N telemetry lines.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "BenchHelper.h"
#include "SensorTree.h"

namespace {

long long mainThreadTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  long long utime = 0, stime = 0;
  // After the command's closing parenthesis: state (field 3) ... utime (14), stime (15).
  std::sscanf(text.c_str() + text.rfind(')') + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &utime,
              &stime);
  return utime + stime;
}

long long monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 2000;
  writeSensorTree(PELAGRIN_BENCH_TREE);
  BenchHelper helper(PELAGRIN_BENCH_HELPER);
  BenchClient client;
  if (!client.readLine()) {
    std::fprintf(stderr, "the helper did not start (is %s free?)\n", listenEndpoint().c_str());
    return 1;
  }
  const long long startTicks = mainThreadTicks(helper.pid());
  const long long startMs = monotonicMs();
  for (int line = 0; line < cycles; ++line) {
    if (!client.readLine()) {
      std::fprintf(stderr, "telemetry stopped after %d lines\n", line);
      return 1;
    }
  }
  const double cpuMs = static_cast<double>(mainThreadTicks(helper.pid()) - startTicks) * 1000.0 /
                       static_cast<double>(sysconf(_SC_CLK_TCK));
  std::printf("cycles %d, wall %.0f ms, main-thread CPU %.0f ms, CPU per cycle %.1f us\n", cycles,
              static_cast<double>(monotonicMs() - startMs), cpuMs, cpuMs * 1000.0 / cycles);
  return 0;
}
