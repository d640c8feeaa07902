#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Runs the built installer with HOME set and the answers piped to its terminal
// dialogs; returns what it showed. The time limit keeps a hang from stalling the suite.
std::string runInstaller(const fs::path& home, const std::string& answers) {
  const std::string command =
      "printf '" + answers + "' | HOME='" + home.string() + "' timeout 60 '" + HELPER_INSTALLER + "'";
  FILE* pipe = popen(command.c_str(), "r");
  std::string shown;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) shown.append(buffer, n);
  pclose(pipe);
  return shown;
}

// Processes running this very program file: helpers of other runs are left alone.
std::vector<pid_t> processesRunning(const fs::path& program) {
  std::vector<pid_t> found;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    std::error_code error;
    const std::string executable = fs::read_symlink(entry.path() / "exe", error).string();
    if (!error && (executable == program.string() || executable == program.string() + " (deleted)")) {
      found.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    }
  }
  return found;
}

// setsid returns before its child has become the helper, and a stopped helper
// takes a moment to go, so both states are awaited.
std::vector<pid_t> awaitProcesses(const fs::path& program, bool running) {
  for (int tries = 0; tries < 150 && processesRunning(program).empty() == running; ++tries) {
    std::this_thread::sleep_for(20ms);
  }
  return processesRunning(program);
}

// A connection to 127.0.0.1:27830 within `tries` tenths of a second, or -1.
int connectToHelper(int tries) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(27830);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int n = 0; n < tries; ++n, std::this_thread::sleep_for(100ms)) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
  }
  return -1;
}

// The first line the helper sends, or what arrived before the time ran out.
std::string firstTelemetryLine() {
  const int fd = connectToHelper(50);
  const timeval limit{8, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string received;
  char c = 0;
  while (fd >= 0 && c != '\n' && recv(fd, &c, 1, 0) == 1) received += c;
  if (fd >= 0) close(fd);
  return received;
}

// Whatever happens to the test, no helper it started outlives it.
struct InstalledHelperReaper {
  fs::path home, program;
  ~InstalledHelperReaper() {
    for (const pid_t pid : processesRunning(program)) kill(pid, SIGKILL);
    fs::remove_all(home);
  }
};

TEST(InstallerEndToEnd, InstallReinstallAndUninstallThroughTheTerminal) {
  const fs::path home = fs::path(::testing::TempDir()) / ("e2e Tom & Jerry " + std::to_string(getpid()));
  const fs::path installDir = home / ".local/share/Pelagrin";
  const fs::path desktopFile = home / ".config/autostart/app.pelagrin.helper.desktop";
  const InstalledHelperReaper reaper{home, installDir / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper"};
  fs::create_directories(home);
  const int busy = connectToHelper(1);
  if (busy >= 0) close(busy);
  ASSERT_LT(busy, 0) << "something else already serves 127.0.0.1:27830";

  std::string shown = runInstaller(home, "Install\\n\\n");
  EXPECT_NE(shown.find("  1. Install\n  2. Uninstall (unavailable)\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Sensor Helper installed and running!"), std::string::npos) << shown;
  EXPECT_TRUE(fs::exists(desktopFile));
  const std::vector<pid_t> first = awaitProcesses(reaper.program, true);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(firstTelemetryLine().rfind("{\"cpuTemp\":", 0), 0u);

  shown = runInstaller(home, "Reinstall\\n\\n");
  EXPECT_NE(shown.find("  1. Reinstall\n  2. Uninstall\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Sensor Helper installed and running!"), std::string::npos) << shown;
  const std::vector<pid_t> second = awaitProcesses(reaper.program, true);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second, first);
  EXPECT_EQ(firstTelemetryLine().rfind("{\"cpuTemp\":", 0), 0u);

  shown = runInstaller(home, "Uninstall\\nUninstall\\n\\n");
  EXPECT_NE(shown.find("Sensor Helper uninstalled."), std::string::npos) << shown;
  EXPECT_TRUE(awaitProcesses(reaper.program, false).empty());
  EXPECT_FALSE(fs::exists(installDir));
  EXPECT_FALSE(fs::exists(desktopFile));
}

}  // namespace
