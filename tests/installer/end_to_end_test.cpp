#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

int millisecondsLeft(Clock::time_point deadline) {
  return static_cast<int>(std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

// Reads until end of input or the deadline; true when the end was reached.
bool readUntilEnd(int fd, std::string& out, Clock::time_point deadline) {
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, millisecondsLeft(deadline)) <= 0) return false;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return n == 0;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

// Runs the built installer with HOME set, the answers piped to its terminal
// dialogs, and returns what it showed.
std::string runInstaller(const fs::path& home, const std::string& answers) {
  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return "pipe failed";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  std::vector<std::string> variables = {"HOME=" + home.string()};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::string(*variable).rfind("HOME=", 0) != 0) variables.emplace_back(*variable);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(HELPER_INSTALLER), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawn(&child, HELPER_INSTALLER, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  if (spawned != 0) return "cannot start the installer";

  (void)!write(input[1], answers.data(), answers.size());
  close(input[1]);
  std::string shown;
  if (!readUntilEnd(output[0], shown, Clock::now() + 30s)) kill(child, SIGKILL);
  close(output[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return shown;
}

// Processes running this very program file, found by path so that helpers of
// other test runs are left alone.
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

// setsid returns before its child has become the helper, so give it a moment.
std::vector<pid_t> waitUntilRunning(const fs::path& program) {
  const Clock::time_point deadline = Clock::now() + 3s;
  while (processesRunning(program).empty() && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
  return processesRunning(program);
}

bool waitUntilGone(const fs::path& program) {
  const Clock::time_point deadline = Clock::now() + 3s;
  while (!processesRunning(program).empty() && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
  return processesRunning(program).empty();
}

int connectToHelper() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(27830);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}

// The first telemetry line from 127.0.0.1:27830, or "" when none came in time.
std::string firstTelemetryLine() {
  const Clock::time_point deadline = Clock::now() + 8s;
  int fd = -1;
  while ((fd = connectToHelper()) < 0 && Clock::now() < deadline) std::this_thread::sleep_for(100ms);
  std::string received;
  char buffer[256];
  while (fd >= 0 && received.find('\n') == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    const ssize_t n = poll(&ready, 1, millisecondsLeft(deadline)) > 0 ? read(fd, buffer, sizeof buffer) : 0;
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  if (fd >= 0) close(fd);
  const std::size_t end = received.find('\n');
  return end == std::string::npos ? "" : received.substr(0, end + 1);
}

// Whatever happens to the test, no helper it started outlives it.
struct InstalledHelperReaper {
  fs::path home;
  fs::path program;
  ~InstalledHelperReaper() {
    for (const pid_t pid : processesRunning(program)) kill(pid, SIGKILL);
    fs::remove_all(home);
  }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(InstallerEndToEnd, InstallReinstallAndUninstallThroughTheTerminal) {
  const fs::path home = fs::path(::testing::TempDir()) / ("e2e Tom & Jerry " + std::to_string(getpid()));
  const fs::path installDir = home / ".local/share/Pelagrin";
  const fs::path desktopFile = home / ".config/autostart/app.pelagrin.helper.desktop";
  const InstalledHelperReaper reaper{home, installDir / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper"};
  fs::create_directories(home);
  const int busy = connectToHelper();
  if (busy >= 0) close(busy);
  ASSERT_LT(busy, 0) << "something else already serves 127.0.0.1:27830";

  const std::string installed = "Sensor Helper installed and running!";
  std::string shown = runInstaller(home, "Install\n\n");
  EXPECT_TRUE(contains(shown, "  1. Install\n  2. Uninstall (unavailable)\n") && contains(shown, installed)) << shown;
  EXPECT_TRUE(fs::exists(desktopFile));
  const std::vector<pid_t> first = waitUntilRunning(reaper.program);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(firstTelemetryLine().rfind("{\"cpuTemp\":", 0), 0u);

  shown = runInstaller(home, "Reinstall\n\n");
  EXPECT_TRUE(contains(shown, "  1. Reinstall\n  2. Uninstall\n") && contains(shown, installed)) << shown;
  const std::vector<pid_t> second = waitUntilRunning(reaper.program);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second, first);
  EXPECT_EQ(firstTelemetryLine().rfind("{\"cpuTemp\":", 0), 0u);

  shown = runInstaller(home, "Uninstall\nUninstall\n\n");
  EXPECT_TRUE(contains(shown, "Uninstall Sensor Helper?") && contains(shown, "Sensor Helper uninstalled.")) << shown;
  EXPECT_TRUE(waitUntilGone(reaper.program));
  EXPECT_FALSE(fs::exists(installDir));
  EXPECT_FALSE(fs::exists(desktopFile));
}

}  // namespace
