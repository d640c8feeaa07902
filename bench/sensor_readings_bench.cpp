// One cycle's four readings over a 64-sensor tree, beside the floor: opening,
// reading and closing the same files, and nothing else.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "SensorTree.h"
#include "sensors/SystemHelper.h"

namespace {

std::vector<std::string> cycleFiles;

void fourReadings(benchmark::State& state) {
  if (SystemHelper_getCPUTemperature() <= 0.0f || SystemHelper_getGPUUtilization() <= 0.0f) {
    state.SkipWithError("the readings do not see the sensor tree");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(SystemHelper_getCPUTemperature());
    benchmark::DoNotOptimize(SystemHelper_getCPUTemperatureAvg());
    benchmark::DoNotOptimize(SystemHelper_getGPUTemperature());
    benchmark::DoNotOptimize(SystemHelper_getGPUUtilization());
  }
}

void openReadCloseFloor(benchmark::State& state) {
  char buffer[256];
  for (auto _ : state) {
    for (const std::string& file : cycleFiles) {
      const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
      benchmark::DoNotOptimize(read(fd, buffer, sizeof buffer));
      close(fd);
    }
  }
  state.counters["files"] = static_cast<double>(cycleFiles.size());
}

}  // namespace

int main(int argc, char** argv) {
  cycleFiles = writeSensorTree(PELAGRIN_BENCH_TREE);
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("FourReadings", fourReadings);
  benchmark::RegisterBenchmark("OpenReadCloseFloor", openReadCloseFloor);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
