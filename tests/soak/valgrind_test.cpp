#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Churn.h"
#include "Reader.h"
#include "SoakSession.h"

namespace {

constexpr long kCycles = 30;
constexpr int kWaitMs = 15000;  // two-second cycles, slowed down by memcheck
// The desktop fixture with the fake NVML library: coretemp's 52 and mean
// 50.2, NVML's GPU at 61 C, card0 at 7 %.
const TelemetryFigures kDesktopFigures{520, 502, 610, 70};

// Shows the desktop fixture as /sys to this process and its children, in a
// mount namespace of their own. False where the machine does not allow it.
bool showFixtureAsSys() {
  return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount(DESKTOP_FIXTURE, "/sys", nullptr, MS_BIND, nullptr) == 0;
}

// The harness starts a program without arguments, so memcheck and its
// options come from a script that execs it in its own place.
std::string writeMemcheckScript(const std::string& folder) {
  const std::string script = folder + "/memcheck.sh";
  std::ofstream(script) << "#!/bin/sh\nexec " VALGRIND_BIN
                           " --leak-check=full --errors-for-leak-kinds=definite --log-file="
                        << folder << "/memcheck.log " HELPER_BIN "\n";
  chmod(script.c_str(), 0700);
  return script;
}

// A folder for LD_LIBRARY_PATH in which the fake NVML library answers to the real one's name.
std::string fakeNvmlFolder(const std::string& folder) {
  const std::string libraries = folder + "/lib";
  std::filesystem::create_directory(libraries);
  std::filesystem::create_symlink(FAKE_NVML, libraries + "/libnvidia-ml.so.1");
  return libraries;
}

TEST(Memcheck, ShippedHelperLosesNoMemoryOverThirtyCyclesOfClients) {
#if defined(PELAGRIN_SANITIZED)
  GTEST_SKIP() << "memcheck cannot run a sanitizer build";
#endif
  if (std::string(VALGRIND_BIN).empty()) {
    GTEST_SKIP() << "valgrind is not installed (Debian package valgrind); the helper was not checked";
  }
  ScratchFolder scratch;
  Expectation lines;
  if (showFixtureAsSys()) {
    lines.figures = kDesktopFigures;
  } else {
    std::printf("no private mount namespace: the helper reads this machine's /sys, lines are checked for form only\n");
  }
  SoakSession session(writeMemcheckScript(scratch.path()), {"LD_LIBRARY_PATH=" + fakeNvmlFolder(scratch.path())},
                      scratch.path() + "/helper.log");
  ASSERT_TRUE(session.awaitListening(30000));
  Reader steady(TelemetryClient(), lines);
  Reader other(TelemetryClient(), lines);
  ASSERT_TRUE(session.awaitClients(2, kWaitMs));

  Churn churn(session.table(), {&steady, &other}, lines, 3, kWaitMs);
  churn.runUntilCycle(kCycles);
  churn.finish();
  EXPECT_EQ(churn.faults(), std::vector<std::string>{});
  steady.close();
  other.close();
  EXPECT_TRUE(session.awaitClients(0, kWaitMs));

  // memcheck runs its leak check when a signal ends the program.
  ASSERT_EQ(kill(session.helper().pid(), SIGTERM), 0);
  EXPECT_EQ(session.helper().waitExit(60000), 128 + SIGTERM);
  std::ostringstream report;
  report << std::ifstream(scratch.path() + "/memcheck.log").rdbuf();
  const std::string text = report.str();
  const bool noneLost = text.find("definitely lost: 0 bytes in 0 blocks") != std::string::npos ||
                        text.find("All heap blocks were freed") != std::string::npos;
  EXPECT_TRUE(noneLost) << text;
  EXPECT_NE(text.find("ERROR SUMMARY: 0 errors"), std::string::npos) << text;
}

}  // namespace
