#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "Deadline.h"
#include "InstallerSandbox.h"
#include "runShell.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kHangFor = 300ms;

// A command that never ends by itself: it leaves its process id beside itself and sleeps.
void writeHangingStub(const fs::path& stub) {
  writeFile(stub, "#!/bin/sh\necho $$ > \"$0.pid\"\nexec sleep 3600\n");
  fs::permissions(stub, fs::perms::owner_all);
}

pid_t awaitProcessId(const fs::path& pidFile) {
  for (const auto until = Clock::now() + 10s; Clock::now() < until; std::this_thread::sleep_for(10ms)) {
    const std::string text = readFile(pidFile);
    if (!text.empty() && text.back() == '\n') return static_cast<pid_t>(std::stol(text));
  }
  return -1;
}

// Kills the stub once it has run for a while, as a user would end a command
// that hangs; meanwhile the installer waits on it in the test's own thread.
class StubKiller {
 public:
  explicit StubKiller(fs::path pidFile)
      : thread_([pidFile = std::move(pidFile)] {
          const pid_t stub = awaitProcessId(pidFile);
          std::this_thread::sleep_for(kHangFor);
          if (stub > 0) kill(stub, SIGKILL);
        }) {}
  ~StubKiller() { thread_.join(); }
  StubKiller(const StubKiller&) = delete;
  StubKiller& operator=(const StubKiller&) = delete;

 private:
  std::thread thread_;
};

struct HungCommand {
  const char* executable;
  bool uninstalling;
  const char* title;
  const char* text;
};

constexpr const char* kStart = "/usr/bin/setsid";
constexpr const char* kStop = "/usr/bin/killall";

// A stop command's status is ignored, so once it is killed the procedure goes
// on; a start command's is reported, and a killed one ended by signal 9.
const HungCommand kCases[] = {
    {kStop, false, "Success",
     "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real CPU "
     "temperature and GPU utilization."},
    {kStart, false, "Installation Failed",
     "Helper installed but failed to start (error 9).\n\nTry logging out and back in."},
    {kStop, true, "Success",
     "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges."},
};

TEST(HungCommand, IsWaitedForUntilKilledAndTheProcedureThenFinishes) {
  const Deadline deadline(60);
  for (const HungCommand& hung : kCases) {
    SCOPED_TRACE(std::string(hung.executable) + (hung.uninstalling ? " while uninstalling" : " while installing"));
    InstallerSandbox sandbox;
    const fs::path stub = sandbox.root / "never ends";
    writeHangingStub(stub);
    if (hung.uninstalling) sandbox.install();

    Clock::duration waited{};
    sandbox.runCommand = [&](const std::string& executable, const std::vector<std::string>& arguments) {
      if (executable != hung.executable) return 0;
      const auto start = Clock::now();
      const int status = runShell(stub.string(), arguments);
      waited = Clock::now() - start;
      return status;
    };
    Alert result;
    {
      const StubKiller killer(stub.string() + ".pid");
      result = hung.uninstalling ? sandbox.uninstall() : sandbox.install();
    }

    EXPECT_GE(waited, kHangFor);
    EXPECT_EQ(result.title, hung.title);
    EXPECT_EQ(result.informativeText, hung.text);
    EXPECT_EQ(sandbox.autostartEntries(), hung.uninstalling ? std::vector<std::string>{}
                                                            : std::vector<std::string>{"app.pelagrin.helper.desktop"});
  }
}

}  // namespace
