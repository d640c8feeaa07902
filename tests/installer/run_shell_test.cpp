#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "runShell.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RunShell, ReturnsTheChildsStatus) {
  EXPECT_EQ(runShell("/bin/sh", {"-c", "exit 0"}), 0);
  EXPECT_EQ(runShell("/bin/sh", {"-c", "exit 5"}), 5);
  EXPECT_EQ(runShell("/bin/sh", {"-c", "kill -TERM $$"}), SIGTERM);
}

TEST(RunShell, WaitsForTheChildToEnd) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runShell("/bin/sleep", {"0.3"}), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(RunShell, ProgramThatCannotStartGives127) {
  EXPECT_EQ(runShell("/nonexistent/launchctl", {"bootout"}), 127);
  const fs::path plain = fs::path(::testing::TempDir()) / ("not executable " + std::to_string(getpid()));
  std::ofstream(plain) << "#!/bin/sh\n";
  fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(runShell(plain.string(), {}), 127);
  fs::remove(plain);
  EXPECT_EQ(runShell("sh", {"-c", "exit 0"}), 127);  // no PATH search
}

TEST(RunShell, ChildOutputGoesNowhere) {
  const fs::path captured = fs::path(::testing::TempDir()) / ("run shell output " + std::to_string(getpid()));
  const int sink = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int savedOut = dup(STDOUT_FILENO);
  const int savedErr = dup(STDERR_FILENO);
  dup2(sink, STDOUT_FILENO);
  dup2(sink, STDERR_FILENO);
  const int status = runShell("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"});
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  close(sink);

  EXPECT_EQ(status, 3);
  EXPECT_EQ(readFile(captured), "");
  fs::remove(captured);
}

TEST(RunShell, EachArgumentArrivesWhole) {
  const fs::path folder = fs::path(::testing::TempDir()) / ("run shell args " + std::to_string(getpid()));
  fs::create_directories(folder);
  const fs::path script = folder / "count args";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > \"$(dirname \"$0\")/args\"\n";
  fs::permissions(script, fs::perms::owner_all);

  EXPECT_EQ(runShell(script.string(), {"Application Support/Pelagrin", "$HOME", "*"}), 0);
  EXPECT_EQ(readFile(folder / "args"), "3|Application Support/Pelagrin|$HOME|*|");
  EXPECT_EQ(runShell(script.string(), {}), 0);
  EXPECT_EQ(readFile(folder / "args"), "0|");
  fs::remove_all(folder);
}

}  // namespace
