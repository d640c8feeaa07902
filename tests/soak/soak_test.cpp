#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Churn.h"
#include "ProcessProbe.h"
#include "Reader.h"
#include "SoakSession.h"

namespace {

constexpr long kCycles = 10000;
constexpr long kSettledCycle = 1000;
constexpr long kRssGrowthLimitKiB = 64;
constexpr int kWaitMs = 2000;
constexpr unsigned kSeed = 6;
// The fake sensors' script: these temperatures, and gpuUtil counting cycles.
const char* const kScript = "71.5 64.2 55.0 0\n";
const Expectation kLines{TelemetryFigures{715, 642, 550, 0}, true};

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The last lines of a log, where a failure shows.
std::string tail(const std::string& path) {
  constexpr std::size_t kShown = 40;
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::size_t from = lines.size() > kShown ? lines.size() - kShown : 0;
  return joined(std::vector<std::string>(lines.begin() + static_cast<long>(from), lines.end()));
}

// Descriptors are counted once the helper has run a cycle with its clients:
// the fake sensors read their script during the first one.
class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(scratch_.path() + "/sensors") << kScript;
    session_.emplace(SOAK_HELPER_BIN,
                     std::vector<std::string>{"PELAGRIN_FAKE_COUNTER=1", "PELAGRIN_FAKE_SENSORS=" + scratch_.path() + "/sensors"},
                     scratch_.path() + "/helper.log");
    ASSERT_TRUE(session_->awaitListening(5000));
    if (!session_->privateNetwork()) std::printf("no private network namespace: the run shares the machine's loopback\n");
  }

  void TearDown() override {
    if (HasFailure()) std::printf("the helper's log:\n%s", tail(scratch_.path() + "/helper.log").c_str());
  }

  pid_t pid() { return session_->helper().pid(); }

  ScratchFolder scratch_;
  std::optional<SoakSession> session_;
};

TEST_F(Soak, TenThousandCyclesOfClientChurn) {
  Reader first(TelemetryClient(), kLines);
  Reader second(TelemetryClient(), kLines);
  ASSERT_TRUE(session_->awaitClients(2, kWaitMs));
  ASSERT_TRUE(serveUntil({&first, &second}, [&] { return first.lines() > 0 && second.lines() > 0; }, kWaitMs));
  const int baselineFds = openDescriptorCount(pid()) - 2;
  // The readers' own count of lines clocks the run; this is the cycle of line 1.
  const long offset = *first.firstCycle();
  ASSERT_LT(offset, kSettledCycle / 2) << "the cycle number wraps at 1000";

  const long long start = monotonicMs();
  Churn churn(session_->table(), {&first, &second}, kLines, ChurnPlan{60, kWaitMs, kSeed});
  churn.runUntilCycle(kSettledCycle - offset);
  const long settledKiB = residentKiB(pid());
  const int settledFds = openDescriptorCount(pid());
  churn.runUntilCycle(kCycles - offset);
  const long finalKiB = residentKiB(pid());
  const long long wallMs = monotonicMs() - start;
  churn.finish();

  EXPECT_EQ(joined(churn.faults()), "");
  EXPECT_FALSE(first.hungUp() || second.hungUp()) << "the helper dropped a steady reader";
  EXPECT_GE(first.lines(), kCycles - offset);
  EXPECT_LE(std::labs(second.lines() - first.lines()), 2) << "the steady readers disagree on the cycles";
  first.close();
  second.close();
  EXPECT_TRUE(session_->awaitClients(0, kWaitMs));
  EXPECT_TRUE(session_->awaitDescriptors(baselineFds, kWaitMs))
      << openDescriptorCount(pid()) << " descriptors open, " << baselineFds << " at the start";
  EXPECT_TRUE(session_->alive());

  const LoggedTable& log = session_->table();
  const ChurnCounts& counts = churn.counts();
  EXPECT_EQ(log.connects(), log.disconnects());
  EXPECT_EQ(log.rejections(), counts.fifths);
#if defined(PELAGRIN_SANITIZED)
  std::printf("sanitized build: its allocator's quarantine grows by design, resident memory not judged\n");
#else
  EXPECT_LE(finalKiB - settledKiB, kRssGrowthLimitKiB);
#endif
  std::printf("soak: %ld cycles in %.1f s; RSS %ld KiB at cycle %ld, %ld KiB at cycle %ld; descriptors %d without clients, "
              "%d at cycle %ld with 4 clients, %d at the end\n",
              first.lines(), static_cast<double>(wallMs) / 1000, settledKiB, kSettledCycle, finalKiB, kCycles,
              baselineFds, settledFds, kSettledCycle, openDescriptorCount(pid()));
  std::printf("churn: %d closers, %d silent, %d garbage senders, %d killed, %d fifth clients; %d admitted in all\n",
              counts.closers, counts.silent, counts.garbage, counts.killed, counts.fifths, log.connects());
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
  readers.reserve(4);
  readers.emplace_back(TelemetryClient(), kLines);
  ASSERT_TRUE(serveUntil({&readers[0]}, [&] { return readers[0].lines() > 0; }, kWaitMs));
  for (int i = 1; i < 4; ++i) readers.emplace_back(TelemetryClient(), kLines);
  std::vector<Reader*> serving;
  for (Reader& reader : readers) serving.push_back(&reader);
  ASSERT_TRUE(session_->awaitClients(4, kWaitMs));
  ASSERT_TRUE(serveUntil(serving, [&] { return readers[3].lines() > 0; }, kWaitMs));
  const int baselineFds = openDescriptorCount(pid()) - 4;

  const int inUse = descriptorCeiling(pid());
  ASSERT_EQ(inUse, openDescriptorCount(pid())) << "a free number below the limit would let one accept through";
  rlimit previous{};
  ASSERT_EQ(prlimit(pid(), RLIMIT_NOFILE, nullptr, &previous), 0);
  const rlimit tight{static_cast<rlim_t>(inUse), previous.rlim_max};
  ASSERT_EQ(prlimit(pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
  LoggedTable& log = session_->table();
  // An accept already waiting reserved its descriptor before the limit fell:
  // it takes one more connection and, the table being full, turns it away.
  std::vector<TelemetryClient> waiting;
  waiting.emplace_back();
  const int reservedRejections =
      serveUntil(serving, [&] { return log.update(), log.rejections() == 1; }, 500) ? 1 : 0;
  if (reservedRejections == 1) waiting.clear();
  while (waiting.size() < 3) waiting.emplace_back();  // queued by the kernel; accept has no descriptor for them

  const long long acceptTicksBefore = ticksBesideMainThread(pid());
  const long long loopTicksBefore = mainThreadTicks(pid());
  const long target = readers[0].lines() + kExhaustedCycles;
  ASSERT_TRUE(serveUntil(serving, [&] { return readers[0].lines() >= target; }, 60000));
  const long long acceptTicks = ticksBesideMainThread(pid()) - acceptTicksBefore;
  const long long loopTicks = mainThreadTicks(pid()) - loopTicksBefore;
  EXPECT_LE(acceptTicks, kIdleTicks) << "the accept side spun while accept kept failing";
  log.update();
  EXPECT_EQ(log.connects(), 4);
  EXPECT_EQ(log.rejections(), reservedRejections);

  // A leaving client frees a slot and a descriptor: the first queued client takes both.
  serving.erase(serving.begin());
  readers[0].close();
  ASSERT_TRUE(serveUntil(serving, [&] { return log.update(), log.connects() == 5; }, kWaitMs));
  EXPECT_EQ(log.disconnects(), 1);
  const std::optional<std::string> first = waiting[0].readLine(kWaitMs);
  ASSERT_TRUE(first);
  EXPECT_TRUE(parseTelemetryLine(*first)) << *first;

  // Given descriptors again, the helper turns the other two away: the table is full.
  ASSERT_EQ(prlimit(pid(), RLIMIT_NOFILE, &previous, nullptr), 0);
  EXPECT_TRUE(waiting[1].closedWithoutData(kWaitMs));
  EXPECT_TRUE(waiting[2].closedWithoutData(kWaitMs));
  serveReaders(serving, 0);
  for (const Reader* reader : serving) {
    EXPECT_EQ(joined(reader->faults()), "");
    EXPECT_FALSE(reader->hungUp());
  }

  waiting.clear();
  readers.clear();
  EXPECT_TRUE(session_->awaitClients(0, kWaitMs));
  EXPECT_TRUE(session_->awaitDescriptors(baselineFds, kWaitMs));
  EXPECT_TRUE(session_->alive());
  EXPECT_EQ(joined(log.faults()), "");
  EXPECT_EQ(log.rejections(), reservedRejections + 2);
  std::printf("descriptor exhaustion: %ld cycles; accept side %lld ticks, broadcast loop %lld ticks; "
              "descriptors %d at the limit, %d at the end; %d connection taken by the reserved descriptor\n",
              kExhaustedCycles, acceptTicks, loopTicks, inUse, openDescriptorCount(pid()), reservedRejections);
}

}  // namespace
