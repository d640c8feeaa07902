#include "Churn.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

namespace {

constexpr int kKinds = 4;
constexpr std::size_t kFaultsKept = 20;
constexpr int kServeSliceMs = 5;
// A reader is served a little after the steady reader that clocks the run.
constexpr long kCycleSlack = 2;
constexpr std::size_t kSmallGarbage = 2048;
constexpr std::size_t kLargeGarbage = 64 * 1024;

// A client in a process of its own, reading until it is killed.
pid_t forkReadingChild() {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  close_range(3, ~0U, 0);  // none of the parent's connections may outlive the kill
  TelemetryClient connection;
  char chunk[4096];
  while (connection.connected() && recv(connection.fd(), chunk, sizeof chunk, 0) > 0) {
  }
  _exit(0);
}

void reap(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace

Churn::Churn(LoggedTable& table, std::vector<Reader*> steady, const Expectation& expectation, long maxHoldCycles,
             int helperWaitMs)
    : table_(table),
      steady_(std::move(steady)),
      expectation_(expectation),
      maxHoldCycles_(maxHoldCycles),
      helperWaitMs_(helperWaitMs) {
  table_.update();
  connects_ = table_.connects;
  disconnects_ = table_.disconnects;
  rejections_ = table_.rejections;
}

Churn::~Churn() {
  for (const Client& client : clients_)
    if (client.child > 0) reap(client.child);
}

void Churn::runUntilCycle(long cycles) {
  const std::size_t slots = kTableSlots - steady_.size();
  long seen = cycle();
  long long lastProgress = monotonicMs();
  while (cycle() < cycles && faults_.size() < kFaultsKept) {
    serveReaders(readers(), kServeSliceMs);
    table_.update();
    if (cycle() != seen) {
      seen = cycle();
      lastProgress = monotonicMs();
    } else if (monotonicMs() - lastProgress > helperWaitMs_) {
      return fault("no line for " + std::to_string(helperWaitMs_) + " ms after cycle " + std::to_string(seen));
    }
    closeDue();
    if (clients_.size() < slots) {
      open(static_cast<Kind>(nextKind_++ % kKinds));
    } else if (table_.clients() == kTableSlots && lastFifthCycle_ != cycle()) {
      tryFifth();
    }
  }
}

void Churn::finish() {
  while (!clients_.empty()) {
    close(clients_.back());
    clients_.pop_back();
  }
}

std::vector<std::string> Churn::faults() const {
  std::vector<std::string> all = faults_;
  for (const Reader* reader : steady_)
    for (const std::string& what : reader->faults()) all.push_back("steady reader: " + what);
  for (const std::string& what : table_.faults) all.push_back("log: " + what);
  return all;
}

std::vector<Reader*> Churn::readers() const {
  std::vector<Reader*> all = steady_;
  for (const Client& client : clients_)
    if (client.reader) all.push_back(client.reader.get());
  return all;
}

bool Churn::awaitLog(int LoggedTable::*counter, int expected, const char* what) {
  const bool seen =
      serveUntil(readers(), [&] { return table_.update(), table_.*counter >= expected; }, helperWaitMs_);
  if (!seen) fault(what);
  if (table_.*counter > expected) fault(std::string("more than expected: ") + what);
  return seen;
}

void Churn::open(Kind kind) {
  if (kind == Kind::Closer) return connectAndClose();
  Client client{.closeAtCycle = cycle() + std::uniform_int_distribution<long>(1, maxHoldCycles_)(random_),
                .connectCycle = cycle()};
  if (kind == Kind::Silent) {
    client.connection = std::make_unique<TelemetryClient>();
  } else if (kind == Kind::Garbage) {
    client.reader = std::make_unique<Reader>(TelemetryClient(), expectation_);
    sendGarbage(client.reader->fd());
    // A third of them also end their side; they still read.
    if (random_() % 3 == 0) shutdown(client.reader->fd(), SHUT_WR);
  } else {
    client.child = forkReadingChild();
  }
  awaitLog(&LoggedTable::connects, ++connects_, "a new client was not admitted");
  client.admittedAtCycle = cycle();
  clients_.push_back(std::move(client));
}

void Churn::connectAndClose() {
  TelemetryClient connection;
  // Half of them are gone before the helper has even accepted them.
  if (random_() % 2 == 0) connection.close();
  awaitLog(&LoggedTable::connects, ++connects_, "a new client was not admitted");
  connection.close();
  awaitLog(&LoggedTable::disconnects, ++disconnects_, "a closed client was not removed");
}

void Churn::close(Client& client) {
  if (client.reader) {
    checkGarbageSender(client);
    client.reader->close();
  }
  if (client.connection) client.connection->close();
  if (client.child > 0) reap(std::exchange(client.child, -1));
  awaitLog(&LoggedTable::disconnects, ++disconnects_, "a closed client was not removed");
}

// Admitted somewhere between asking and seeing it in the log, a garbage
// sender gets one line a cycle from then on, give or take the readers' own
// lag. Its acknowledgements are delayed, so TCP may hold a few lines back for
// tens of milliseconds: they are given time to arrive.
void Churn::checkGarbageSender(const Client& client) {
  const auto atLeast = [&] { return cycle() - client.admittedAtCycle - kCycleSlack; };
  serveUntil(readers(), [&] { return client.reader->lines() >= atLeast(); }, helperWaitMs_);
  const long atMost = cycle() - client.connectCycle + kCycleSlack;
  const long lines = client.reader->lines();
  if (lines < atLeast() || lines > atMost)
    fault("a garbage sender got " + std::to_string(lines) + " lines, not " + std::to_string(atLeast()) + " to " +
          std::to_string(atMost));
  for (const std::string& what : client.reader->faults()) fault("garbage sender: " + what);
}

void Churn::closeDue() {
  for (auto client = clients_.begin(); client != clients_.end(); ++client) {
    if (client->closeAtCycle > cycle()) continue;
    close(*client);
    clients_.erase(client);
    return;
  }
}

void Churn::tryFifth() {
  lastFifthCycle_ = cycle();
  TelemetryClient fifth;
  if (awaitLog(&LoggedTable::rejections, ++rejections_, "a fifth client was not rejected") &&
      !fifth.closedWithoutData(helperWaitMs_))
    fault("a rejected fifth client got data or stayed open");
}

void Churn::sendGarbage(int fd) {
  const bool large = random_() % 10 == 0;
  std::string bytes(large ? kLargeGarbage : 1 + random_() % kSmallGarbage, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random_());
  // The helper never reads, so whatever its buffers take at once is enough.
  send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void Churn::fault(const std::string& what) {
  if (faults_.size() < kFaultsKept) faults_.push_back(what + " (cycle " + std::to_string(cycle()) + ")");
}
