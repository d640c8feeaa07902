#pragma once

#include <sys/types.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Reader.h"
#include "SoakSession.h"

// Clients coming and going beside steady readers, one change at a time, each
// confirmed in the helper's log before the next: clients that connect and
// close, connect and never read, send garbage and keep reading, or live in a
// child process that is killed; and a fifth client whenever the table is full.
class Churn {
 public:
  // A cycle is one line of `steady.front()`; a client stays up to
  // `maxHoldCycles`, and the helper has `helperWaitMs` to show each change.
  Churn(LoggedTable& table, std::vector<Reader*> steady, const Expectation& expectation, long maxHoldCycles,
        int helperWaitMs);
  ~Churn();
  Churn(const Churn&) = delete;
  Churn& operator=(const Churn&) = delete;

  // Churns until the first steady reader has had `cycles` lines.
  void runUntilCycle(long cycles);
  // Closes every churn client and waits for the helper to remove each.
  void finish();
  // Everything that went wrong, the steady readers' and the log's faults included.
  std::vector<std::string> faults() const;

 private:
  enum class Kind { Closer, Silent, Garbage, Killed };
  struct Client {
    long closeAtCycle;
    long connectCycle;
    long admittedAtCycle = 0;
    std::unique_ptr<TelemetryClient> connection{};  // Silent
    std::unique_ptr<Reader> reader{};               // Garbage
    pid_t child = -1;                               // Killed
  };

  long cycle() const { return steady_.front()->lines(); }
  std::vector<Reader*> readers() const;
  // Waits until the log's `counter` reaches `expected`; more is a fault too.
  bool awaitLog(int LoggedTable::*counter, int expected, const char* what);
  void open(Kind kind);
  void connectAndClose();
  void close(Client& client);
  void checkGarbageSender(const Client& client);
  void closeDue();
  void tryFifth();
  void sendGarbage(int fd);
  void fault(const std::string& what);

  LoggedTable& table_;
  std::vector<Reader*> steady_;
  Expectation expectation_;
  long maxHoldCycles_;
  int helperWaitMs_;
  std::mt19937 random_{6};
  std::vector<Client> clients_;
  int nextKind_ = 0;
  long lastFifthCycle_ = -1;
  // The log's totals once every change made so far has shown.
  int connects_, disconnects_, rejections_;
  std::vector<std::string> faults_;
};
