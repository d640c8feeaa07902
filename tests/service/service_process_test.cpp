#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "HelperProcess.h"

namespace {

// Each case runs in a network namespace of its own where the machine allows
// it, so no other process on 127.0.0.1:27830 can meet its helper.
class PrivateNetwork : public ::testing::Environment {
 public:
  void SetUp() override { enterPrivateNetwork(); }
};
const ::testing::Environment* const kPrivateNetwork = ::testing::AddGlobalTestEnvironment(new PrivateNetwork);

const std::string kStart = "[Helper] Pelagrin Helper starting on port 27830";
const std::string kListening = "[Helper] Listening on 127.0.0.1:27830";
const std::string kZeroLine = "{\"cpuTemp\":0.0,\"cpuTempAvg\":0.0,\"gpuTemp\":0.0,\"gpuUtil\":0.000}\n";

std::string connectedLog(int total) { return "total=" + std::to_string(total) + ")"; }

// The cycle number that the counting fake sensors put in gpuUtil.
int cycleOf(const std::string& line) {
  const size_t at = line.find("\"gpuUtil\":");
  return static_cast<int>(std::lround(std::stod(line.substr(at + 10)) * 1000));
}

// Reads `count` lines and checks that they are consecutive cycles.
void expectConsecutiveLines(TelemetryClient& client, int count) {
  std::optional<std::string> line = client.readLine(2000);
  ASSERT_TRUE(line);
  int previous = cycleOf(*line);
  for (int i = 1; i < count; ++i) {
    line = client.readLine(2000);
    ASSERT_TRUE(line) << "after cycle " << previous;
    const int current = cycleOf(*line);
    ASSERT_EQ(current, (previous + 1) % 1000) << "missed or repeated a cycle";
    previous = current;
  }
}

// Connects four clients one after the other, each logged with the next total.
void connectFourInOrder(HelperProcess& helper, std::vector<TelemetryClient>& clients) {
  ASSERT_TRUE(helper.waitForLog(kListening, 3000));
  for (int total = 1; total <= 4; ++total) {
    clients.emplace_back();
    ASSERT_TRUE(helper.waitForLog(connectedLog(total), 2000));
  }
}

int serverFdFromLog(HelperProcess& helper, int total) {
  for (const std::string& message : helper.messages()) {
    if (message.find(connectedLog(total)) == std::string::npos) continue;
    return std::stoi(message.substr(message.find("fd=") + 3));
  }
  return -1;
}

// One past the highest open descriptor: a limit there leaves no number free
// unless something below it is closed.
int descriptorCeiling(pid_t pid) {
  int ceiling = 0;
  if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ceiling = std::max(ceiling, std::atoi(entry->d_name) + 1);
    closedir(dir);
  }
  return ceiling;
}

TEST(HelperProcess, StartsInOrderAndSendsTheZeroLine) {
  HelperProcess helper(HELPER_BIN);
  ASSERT_TRUE(helper.waitForLog(kListening, 3000));
  TelemetryClient client;
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.readLine(3000), kZeroLine);
  EXPECT_EQ(client.readLine(3000), kZeroLine);

  const std::vector<std::string> log = helper.messages();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], kStart);
  EXPECT_EQ(log[1], kListening);
  EXPECT_EQ(log[2].rfind("[Helper] Client connected (fd=", 0), 0u);
  EXPECT_NE(log[2].find(", total=1)"), std::string::npos);
  EXPECT_EQ(log.size(), 3u) << "nothing is logged per cycle";
  // The prefix carries date, time, process name and pid, as NSLog's does.
  EXPECT_NE(helper.rawLines()[0].find("PelagrinHelper[" + std::to_string(helper.pid()) + ":"), std::string::npos);
}

TEST(HelperProcess, TakenPortEndsStartupWithStatusOne) {
  const int blocker = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(27830);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int one = 1;
  setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);  // earlier tests leave TIME_WAIT behind
  ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(blocker, 1), 0);

  HelperProcess helper(HELPER_BIN);
  EXPECT_EQ(helper.waitExit(3000), 1);
  EXPECT_EQ(helper.messages(),
            (std::vector<std::string>{kStart, "[Helper] Failed to bind to port 27830 (already in use?)"}));
  close(blocker);
}

TEST(HelperProcess, ListensOnIPv4LoopbackOnly) {
  HelperProcess helper(FAKE_HELPER_BIN);
  ASSERT_TRUE(helper.waitForLog(kListening, 3000));
  const int v6 = socket(AF_INET6, SOCK_STREAM, 0);
  if (v6 < 0) {
    GTEST_SKIP() << "no IPv6 on this machine";
  }
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(27830);
  address.sin6_addr = in6addr_loopback;
  EXPECT_NE(connect(v6, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(v6);
}

TEST(HelperProcess, FifthClientIsTurnedAwayAndTheFourKeepReceiving) {
  HelperProcess helper(FAKE_HELPER_BIN, {"PELAGRIN_FAKE_COUNTER=1"});
  std::vector<TelemetryClient> clients;
  ASSERT_NO_FATAL_FAILURE(connectFourInOrder(helper, clients));
  TelemetryClient fifth;
  ASSERT_TRUE(fifth.connected());
  EXPECT_TRUE(fifth.closedWithoutData(2000));
  EXPECT_TRUE(helper.waitForLog("[Helper] Rejected client \u2014 max connections reached", 2000));
  for (TelemetryClient& client : clients) expectConsecutiveLines(client, 5);
}

TEST(HelperProcess, TwoOfFourGoneAreDroppedAndSurvivorsMissNothing) {
  HelperProcess helper(FAKE_HELPER_BIN, {"PELAGRIN_FAKE_COUNTER=1"});
  std::vector<TelemetryClient> clients;
  ASSERT_NO_FATAL_FAILURE(connectFourInOrder(helper, clients));
  const int second = serverFdFromLog(helper, 2);
  const int fourth = serverFdFromLog(helper, 4);
  ASSERT_TRUE(clients[0].readLine(2000) && clients[2].readLine(2000));
  clients[1].close();
  clients[3].close();

  // A peer's close shows only at a later send, so allow the survivors a few cycles.
  expectConsecutiveLines(clients[0], 20);
  expectConsecutiveLines(clients[2], 20);
  EXPECT_TRUE(helper.waitForLog("[Helper] Client disconnected (fd=" + std::to_string(second) + ")", 2000));
  EXPECT_TRUE(helper.waitForLog("[Helper] Client disconnected (fd=" + std::to_string(fourth) + ")", 2000));
  TelemetryClient newcomer;
  EXPECT_TRUE(helper.waitForLog(connectedLog(3), 2000)) << "the table should hold two survivors";
}

TEST(HelperProcess, ClientThatSendsDataKeepsItsSlot) {
  HelperProcess helper(FAKE_HELPER_BIN, {"PELAGRIN_FAKE_COUNTER=1"});
  ASSERT_TRUE(helper.waitForLog(kListening, 3000));
  TelemetryClient chatty;
  ASSERT_TRUE(helper.waitForLog(connectedLog(1), 2000));
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(chatty.sendText("GET / HTTP/1.0\r\n\r\n{\"hello\":1}\n"));
    expectConsecutiveLines(chatty, 3);
  }
  for (const std::string& message : helper.messages())
    EXPECT_EQ(message.find("disconnected"), std::string::npos) << message;
}

TEST(HelperProcess, StuckClientIsDroppedWhileOthersKeepReceiving) {
  // Small send buffers, so a client that never reads fills them in seconds, not hours.
  if (!enterPrivateNetwork("4096 4096 4096")) {
    GTEST_SKIP() << "needs a private network namespace (root)";
  }
  HelperProcess helper(FAKE_HELPER_BIN, {"PELAGRIN_FAKE_COUNTER=1"});
  ASSERT_TRUE(helper.waitForLog(kListening, 3000));
  TelemetryClient stuck(3000, 1024);  // connects and never reads
  ASSERT_TRUE(helper.waitForLog(connectedLog(1), 2000));
  const int stuckFd = serverFdFromLog(helper, 1);
  TelemetryClient reader;
  ASSERT_TRUE(helper.waitForLog(connectedLog(2), 2000));

  const std::string dropped = "[Helper] Client disconnected (fd=" + std::to_string(stuckFd) + ")";
  const long long deadline = monotonicMs() + 30000;
  long long lastLine = monotonicMs();
  long long longestGap = 0;
  int previous = -1;
  while (!helper.waitForLog(dropped, 0) && monotonicMs() < deadline) {
    const std::optional<std::string> line = reader.readLine(2000);
    ASSERT_TRUE(line) << "the reader stalled";
    const int current = cycleOf(*line);
    if (previous >= 0) {
      ASSERT_EQ(current, (previous + 1) % 1000);
    }
    previous = current;
    longestGap = std::max(longestGap, monotonicMs() - lastLine);
    lastLine = monotonicMs();
  }
  EXPECT_TRUE(helper.waitForLog(dropped, 0)) << "the stuck client was never dropped";
  EXPECT_LT(longestGap, 1000) << "a cycle is 10 ms; a long gap means the loop blocked";
  expectConsecutiveLines(reader, 10);
}

TEST(HelperProcess, AcceptThreadThatCannotStartEndsStartup) {
#if defined(PELAGRIN_SANITIZED)
  GTEST_SKIP() << "a preloaded library cannot come before the sanitizer runtime";
#endif
  HelperProcess helper(HELPER_BIN, {"LD_PRELOAD=" FAIL_THREAD_LIB});
  EXPECT_EQ(helper.waitExit(3000), 1);
  EXPECT_EQ(helper.messages(),
            (std::vector<std::string>{kStart, kListening, "[Helper] Failed to start accept thread"}));
}

TEST(HelperProcess, AcceptFailuresDoNotSpinAndClientsKeepTheirLines) {
  HelperProcess helper(FAKE_HELPER_BIN, {"PELAGRIN_FAKE_COUNTER=1"});
  ASSERT_TRUE(helper.waitForLog(kListening, 3000));
  std::vector<TelemetryClient> clients;
  clients.emplace_back();
  ASSERT_TRUE(helper.waitForLog(connectedLog(1), 2000));

  // No descriptor left for another client: accept fails with EMFILE until one frees.
  const int inUse = descriptorCeiling(helper.pid());
  rlimit previous{};
  ASSERT_EQ(prlimit(helper.pid(), RLIMIT_NOFILE, nullptr, &previous), 0);
  const rlimit tight{static_cast<rlim_t>(inUse), previous.rlim_max};
  ASSERT_EQ(prlimit(helper.pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
  // An accept that was already waiting holds the descriptor it reserved before
  // the limit fell, so one more client may still get in; the next cannot.
  TelemetryClient waiting;
  int queuedTotal = 2;
  if (helper.waitForLog(connectedLog(2), 500)) {
    clients.push_back(std::move(waiting));
    waiting = TelemetryClient();
    queuedTotal = 3;
  }
  ASSERT_TRUE(waiting.connected());  // queued by the kernel, not yet accepted

  // Everything but the main thread: the accept thread (and a sanitizer's own, if any).
  const auto acceptSideTicks = [&helper] {
    long long ticks = 0;
    for (const pid_t tid : threadIds(helper.pid()))
      if (tid != helper.pid()) ticks += threadCpuTicks(helper.pid(), tid);
    return ticks;
  };
  const long long before = acceptSideTicks();
  for (TelemetryClient& client : clients) expectConsecutiveLines(client, 100);  // about a second of cycles
  const long long spent = acceptSideTicks() - before;
  EXPECT_LE(spent, 5) << "the accept thread used " << spent << " ticks while accept kept failing";
  EXPECT_FALSE(helper.waitForLog(connectedLog(queuedTotal), 0));

  // Once descriptors are available again the queued client gets in.
  ASSERT_EQ(prlimit(helper.pid(), RLIMIT_NOFILE, &previous, nullptr), 0);
  EXPECT_TRUE(helper.waitForLog(connectedLog(queuedTotal), 2000));
  EXPECT_TRUE(waiting.readLine(2000));
}

}  // namespace
