// From the end of the pause to the line being read at four clients: the
// helper's own cycle (the four readings, zero here, formatting, the send phase
// over real loopback TCP), and each client's receive. Beside it, the floor:
// the same bytes through bare blocking send and recv on four other loopback
// connections.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "service/ClientTable.h"
#include "service/Cycle.h"

namespace {

struct LoopbackPairs {
  std::array<int, 4> accepted{};
  std::array<int, 4> clients{};
};

LoopbackPairs connectFourPairs() {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    std::abort();
  LoopbackPairs pairs;
  for (std::size_t i = 0; i < pairs.clients.size(); ++i) {
    pairs.clients[i] = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(pairs.clients[i], reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
    pairs.accepted[i] = accept(listener, nullptr, nullptr);
  }
  close(listener);
  return pairs;
}

// Four loopback connections whose accepted ends are registered in the table.
std::array<int, 4> connectFourClients() {
  const LoopbackPairs pairs = connectFourPairs();
  for (const int accepted : pairs.accepted) addClient(accepted);
  return pairs.clients;
}

void receiveLine(const std::array<int, 4>& clients, std::size_t size) {
  char received[256];
  for (const int client : clients) {
    std::size_t got = 0;
    while (got < size) got += static_cast<std::size_t>(recv(client, received, sizeof received, 0));
  }
}

void BM_LineToFourClients(benchmark::State& state) {
  static const std::array<int, 4> clients = connectFourClients();
  for (auto _ : state) {
    const TelemetryLine line = broadcastOneCycle();
    receiveLine(clients, line.size);
  }
}
BENCHMARK(BM_LineToFourClients)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_BareSendsToFourClients(benchmark::State& state) {
  static const LoopbackPairs pairs = connectFourPairs();
  const TelemetryLine line = formatTelemetryLine(0.0f, 0.0f, 0.0f, 0.0f);
  for (auto _ : state) {
    for (auto slot = pairs.accepted.rbegin(); slot != pairs.accepted.rend(); ++slot)
      benchmark::DoNotOptimize(send(*slot, line.bytes, line.size, MSG_NOSIGNAL));
    receiveLine(pairs.clients, line.size);
  }
}
BENCHMARK(BM_BareSendsToFourClients)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
