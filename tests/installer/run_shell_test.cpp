#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "runShell.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

class RunShellTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder); }
  void TearDown() override { fs::remove_all(folder); }

  const fs::path folder = fs::path(::testing::TempDir()) / ("run shell " + std::to_string(getpid()));
};

TEST_F(RunShellTest, ReturnsTheStatusAndNothingOfTheOutputShows) {
  // Our own output goes to a file for the call, to catch anything the child lets through.
  const int sink = open((folder / "seen").c_str(), O_WRONLY | O_CREAT, 0600);
  const int savedOut = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
  dup2(sink, STDOUT_FILENO);
  dup2(sink, STDERR_FILENO);
  const int statuses[] = {runShell("/bin/sh", {"-c", "echo out; echo err >&2; exit 5"}),
                          runShell("/bin/sh", {"-c", "echo out; exit 0"}), runShell("/bin/sh", {"-c", "kill $$"})};
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  close(sink);

  EXPECT_EQ(statuses[0], 5);
  EXPECT_EQ(statuses[1], 0);
  EXPECT_EQ(statuses[2], SIGTERM);
  EXPECT_EQ(readFile(folder / "seen"), "");
}

TEST_F(RunShellTest, ProgramThatCannotStartGives127) {
  std::ofstream(folder / "plain") << "#!/bin/sh\n";
  EXPECT_EQ(runShell((folder / "plain").string(), {}), 127);  // not executable
  EXPECT_EQ(runShell("/nonexistent/launchctl", {"bootout"}), 127);
  EXPECT_EQ(runShell("sh", {"-c", "exit 0"}), 127);  // no PATH search
}

TEST_F(RunShellTest, EachArgumentArrivesWholeAndUnexpanded) {
  const fs::path script = folder / "count args";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > \"$(dirname \"$0\")/args\"\n";
  fs::permissions(script, fs::perms::owner_all);

  EXPECT_EQ(runShell(script.string(), {"Application Support/Pelagrin", "$HOME", "*"}), 0);
  EXPECT_EQ(readFile(folder / "args"), "3|Application Support/Pelagrin|$HOME|*|");
  EXPECT_EQ(runShell(script.string(), {}), 0);
  EXPECT_EQ(readFile(folder / "args"), "0|");
}

}  // namespace
