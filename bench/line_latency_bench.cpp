// From the end of the pause to the line being read at four clients: the four
// readings (zero here), formatting, the send phase over real loopback TCP, and
// each client's receive.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "ClientTable.h"
#include "SystemHelper.h"
#include "Telemetry.h"

namespace {

// Four loopback connections whose accepted ends are registered in the table.
std::array<int, 4> connectFourClients() {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    std::abort();
  std::array<int, 4> clients{};
  for (int& client : clients) {
    client = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
    addClient(accept(listener, nullptr, nullptr));
  }
  close(listener);
  return clients;
}

void BM_LineToFourClients(benchmark::State& state) {
  static const std::array<int, 4> clients = connectFourClients();
  char received[256];
  for (auto _ : state) {
    const float cpu = SystemHelper_getCPUTemperature();
    const float avg = SystemHelper_getCPUTemperatureAvg();
    const float gpu = SystemHelper_getGPUTemperature();
    const float util = SystemHelper_getGPUUtilization();
    const TelemetryLine line = formatTelemetryLine(cpu, avg, gpu, util);
    broadcastLine(line.bytes, line.size);
    for (const int client : clients) {
      std::size_t got = 0;
      while (got < line.size) got += static_cast<std::size_t>(recv(client, received, sizeof received, 0));
    }
  }
}
BENCHMARK(BM_LineToFourClients)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
