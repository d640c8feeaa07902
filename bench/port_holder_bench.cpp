// One look-up of who listens on a loopback port, with the machine's own
// processes: a listener held by this process (the scan reads every process's
// descriptors up to it), and a port nothing listens on (the tables alone).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "PortHolder.h"

namespace {

// A listener on a free loopback port; its port.
std::uint16_t openListener(int& fd) {
  fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  listen(fd, 1);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

void BM_HeldByThisProcess(benchmark::State& state) {
  int fd = -1;
  const std::uint16_t port = openListener(fd);
  for (auto _ : state) {
    const PortHolder holder = whoListens(port);
    if (holder.pid != getpid()) state.SkipWithError(describe(holder).c_str());
  }
  close(fd);
}
BENCHMARK(BM_HeldByThisProcess)->Unit(benchmark::kMicrosecond);

void BM_NothingListens(benchmark::State& state) {
  int fd = -1;
  const std::uint16_t port = openListener(fd);
  close(fd);
  for (auto _ : state) {
    if (whoListens(port).kind != PortHolder::Kind::Nobody) state.SkipWithError("something listens");
  }
}
BENCHMARK(BM_NothingListens)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
