// The service's own footprint with zero readings: resident memory after 100
// and 1,000 cycles with N clients reading (argument, 1 to 4, default 4), and the main thread's CPU time
// per cycle (from the scheduler's nanosecond clock, not 10 ms ticks), beside
// its floor: a thread that does nothing but the same 10 ms sleep, measured the
// same way in the same run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "BenchHelper.h"

namespace {

long long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6);
  return -1;
}

long long cpuNs(const std::string& task) {
  std::ifstream schedstat(task + "/schedstat");
  long long runtime = -1;
  schedstat >> runtime;
  return runtime;
}

long long helperCpuNs(pid_t pid) { return cpuNs("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid)); }

// What a bare 10 ms sleep costs one thread per wake-up on this machine.
double sleepFloorUs(int cycles) {
  const long long start = cpuNs("/proc/thread-self");
  const timespec pause{0, 10 * 1000 * 1000};
  for (int i = 0; i < cycles; ++i) nanosleep(&pause, nullptr);
  return static_cast<double>(cpuNs("/proc/thread-self") - start) / cycles / 1000.0;
}

bool readCycles(std::vector<BenchClient>& clients, int cycles) {
  for (int i = 0; i < cycles; ++i)
    for (BenchClient& client : clients)
      if (!client.readLine()) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int clientCount = argc > 1 ? std::atoi(argv[1]) : 4;
  BenchHelper helper(PELAGRIN_FOOTPRINT_HELPER);
  std::vector<BenchClient> clients(static_cast<std::size_t>(std::max(clientCount, 1)));
  if (!readCycles(clients, 100)) {
    std::fprintf(stderr, "the helper did not start (is %s free?)\n", listenEndpoint().c_str());
    return 1;
  }
  const long long rss100 = residentKiB(helper.pid());
  const long long cpuStart = helperCpuNs(helper.pid());
  if (!readCycles(clients, 900)) return 1;
  const double cpuPerCycleUs = static_cast<double>(helperCpuNs(helper.pid()) - cpuStart) / 900 / 1000.0;
  const long long rss1000 = residentKiB(helper.pid());
  helper.stop();
  const double floorUs = sleepFloorUs(900);
  std::printf("rss_after_100_cycles_kib %lld\nrss_after_1000_cycles_kib %lld\n", rss100, rss1000);
  std::printf("cpu_per_cycle_us %.1f\nsleep_floor_us %.1f\nratio_to_floor %.2f\n", cpuPerCycleUs, floorUs,
              cpuPerCycleUs / floorUs);
  return 0;
}
