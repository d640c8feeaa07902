#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "Churn.h"
#include "Reader.h"
#include "SoakSession.h"

namespace {

constexpr long kCycles = 10000;
constexpr long kSettledCycle = 1000;
constexpr long kRssGrowthLimitKiB = 64;
constexpr int kWaitMs = 2000;
using Faults = std::vector<std::string>;
// The fake sensors' script: these temperatures, and gpuUtil counting cycles.
const Expectation kLines{TelemetryFigures{715, 642, 550, 0}, true};

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(scratch_.path() + "/sensors") << "71.5 64.2 55.0 0\n";
    session_.emplace(SOAK_HELPER_BIN,
                     std::vector<std::string>{"PELAGRIN_FAKE_COUNTER=1", "PELAGRIN_FAKE_SENSORS=" + scratch_.path() + "/sensors"},
                     scratch_.path() + "/helper.log");
    ASSERT_TRUE(session_->awaitListening(5000));
    if (!session_->privateNetwork()) std::printf("no private network namespace: the run shares the machine's loopback\n");
  }

  ScratchFolder scratch_;
  std::optional<SoakSession> session_;
};

// Descriptors are counted once the helper has run a cycle with its clients:
// the fake sensors read their script during the first one.
TEST_F(Soak, TenThousandCyclesOfClientChurn) {
  Reader first(TelemetryClient(), kLines);
  Reader second(TelemetryClient(), kLines);
  ASSERT_TRUE(session_->awaitClients(2, kWaitMs));
  ASSERT_TRUE(serveUntil({&first, &second}, [&] { return first.lines() > 0 && second.lines() > 0; }, kWaitMs));
  const int baselineFds = session_->descriptorCount() - 2;
  // The readers' own count of lines clocks the run; this is the cycle of line 1.
  const long offset = *first.firstCycle();
  ASSERT_LT(offset, kSettledCycle / 2) << "the cycle number wraps at 1000";

  Churn churn(session_->table(), {&first, &second}, kLines, 60, kWaitMs);
  churn.runUntilCycle(kSettledCycle - offset);
  const long settledKiB = session_->residentKiB();
  churn.runUntilCycle(kCycles - offset);
  const long finalKiB = session_->residentKiB();
  churn.finish();

  EXPECT_EQ(churn.faults(), Faults{});
  EXPECT_FALSE(first.hungUp() || second.hungUp()) << "the helper dropped a steady reader";
  EXPECT_GE(first.lines(), kCycles - offset);
  EXPECT_LE(std::labs(second.lines() - first.lines()), 2) << "the steady readers disagree on the cycles";
  first.close();
  second.close();
  EXPECT_TRUE(session_->awaitClients(0, kWaitMs));
  EXPECT_TRUE(session_->awaitDescriptorCount(baselineFds, kWaitMs)) << session_->descriptorCount() << " open, not "
                                                                      << baselineFds;
  EXPECT_TRUE(session_->alive());
  std::printf("RSS %ld KiB at cycle %ld, %ld KiB at cycle %ld\n", settledKiB, kSettledCycle, finalKiB, kCycles);
#if !defined(PELAGRIN_SANITIZED)  // a sanitizer's allocator quarantine grows by design
  EXPECT_LE(finalKiB - settledKiB, kRssGrowthLimitKiB);
#endif
}

// With four clients and no descriptor to spare, accept fails for seconds on
// end: the four keep every line, the accept side stays idle, and the queued
// clients are dealt with as descriptors come back.
TEST_F(Soak, FullTableKeepsServingWhileAcceptHasNoDescriptors) {
  constexpr long kExhaustedCycles = 2500;  // 5 s at 2 ms
  constexpr long long kIdleTicks = 5;      // 50 ms of CPU at 100 ticks a second
  // The first client waits for a cycle, so that what the helper opens only
  // at its start is closed again and the other three fill any gap it left.
  std::vector<Reader> readers;
  readers.reserve(kTableSlots);
  readers.emplace_back(TelemetryClient(), kLines);
  ASSERT_TRUE(serveUntil({&readers[0]}, [&] { return readers[0].lines() > 0; }, kWaitMs));
  while (readers.size() < kTableSlots) readers.emplace_back(TelemetryClient(), kLines);
  std::vector<Reader*> serving;
  for (Reader& reader : readers) serving.push_back(&reader);
  ASSERT_TRUE(session_->awaitClients(kTableSlots, kWaitMs));
  ASSERT_TRUE(serveUntil(serving, [&] { return readers.back().lines() > 0; }, kWaitMs));
  const std::vector<int> fds = session_->descriptors();
  const int baselineFds = static_cast<int>(fds.size()) - kTableSlots;

  // One past the highest descriptor: a limit there leaves no number free.
  const int inUse = *std::max_element(fds.begin(), fds.end()) + 1;
  ASSERT_EQ(inUse, static_cast<int>(fds.size())) << "a free number below the limit would let one accept through";
  const pid_t pid = session_->helper().pid();
  rlimit previous{};
  ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, nullptr, &previous), 0);
  const rlimit tight{static_cast<rlim_t>(inUse), previous.rlim_max};
  ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &tight, nullptr), 0);
  LoggedTable& log = session_->table();
  // An accept already waiting reserved its descriptor before the limit fell:
  // it takes one more connection and, the table being full, turns it away.
  std::vector<TelemetryClient> waiting;
  waiting.emplace_back();
  const int reservedRejections = serveUntil(serving, [&] { return log.update(), log.rejections == 1; }, 500) ? 1 : 0;
  if (reservedRejections == 1) waiting.clear();
  while (waiting.size() < 3) waiting.emplace_back();  // queued by the kernel; accept has no descriptor for them

  const long long ticksBefore = session_->acceptSideTicks();
  const long target = readers[0].lines() + kExhaustedCycles;
  ASSERT_TRUE(serveUntil(serving, [&] { return readers[0].lines() >= target; }, 60000));
  EXPECT_LE(session_->acceptSideTicks() - ticksBefore, kIdleTicks) << "the accept side spun while accept kept failing";
  log.update();
  EXPECT_EQ(log.connects, kTableSlots);
  EXPECT_EQ(log.rejections, reservedRejections);

  // A leaving client frees a slot and a descriptor: the first queued client takes both.
  serving.erase(serving.begin());
  readers[0].close();
  ASSERT_TRUE(serveUntil(serving, [&] { return log.update(), log.connects == kTableSlots + 1; }, kWaitMs));
  EXPECT_EQ(log.disconnects, 1);
  const std::optional<std::string> line = waiting[0].readLine(kWaitMs);
  ASSERT_TRUE(line);
  EXPECT_TRUE(parseTelemetryLine(*line)) << *line;

  // Given descriptors again, the helper turns the other two away: the table is full.
  ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &previous, nullptr), 0);
  EXPECT_TRUE(waiting[1].closedWithoutData(kWaitMs));
  EXPECT_TRUE(waiting[2].closedWithoutData(kWaitMs));
  serveReaders(serving, 0);
  for (const Reader* reader : serving) {
    EXPECT_EQ(reader->faults(), Faults{});
    EXPECT_FALSE(reader->hungUp());
  }

  waiting.clear();
  readers.clear();
  EXPECT_TRUE(session_->awaitClients(0, kWaitMs));
  EXPECT_TRUE(session_->awaitDescriptorCount(baselineFds, kWaitMs));
  EXPECT_TRUE(session_->alive());
  EXPECT_EQ(log.faults, Faults{});
  EXPECT_EQ(log.rejections, reservedRejections + 2);
}

}  // namespace
