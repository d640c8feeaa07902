#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/resource.h>

#include "HelperInstaller.h"
#include "LinuxPlatform.h"

namespace fs = std::filesystem;

namespace {

// The real Linux platform with the commands, the pause and the dialogs
// recorded instead: the tests must not stop helpers that others are running.
class QuietLinuxPlatform : public LinuxPlatform {
 public:
  // The terminal streams are never used: the dialogs are recorded instead.
  QuietLinuxPlatform(const std::string& resources, const std::string& home)
      : LinuxPlatform(resources, home, std::cin, std::cout) {}

  int runModal(const Alert& alert) override {
    alerts.push_back(alert);
    const int answer = answers.empty() ? kAlertDismissed : answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return answer;
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    commands.push_back(executable);
    for (const std::string& argument : arguments) commands.back() += " " + argument;
    return 0;
  }
  void sleepFor(double) override {}

  std::vector<int> answers;
  std::vector<Alert> alerts;
  std::vector<std::string> commands;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

class LinuxPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::path(::testing::TempDir()) / ("installer " + std::to_string(getpid()));
    fs::remove_all(root);
    home = root / "Tom & Jerry";
    resources = root / "HelperInstaller.app/Contents/Resources";
    writeFile(resources / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper", "#!/bin/sh\n");
    fs::permissions(resources / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper", fs::perms::owner_exec, fs::perm_options::add);
    writeFile(resources / "app.pelagrin.helper.desktop", "Exec=\"__INSTALL_PATH__/run\"\n");
    fs::create_directories(home);
  }
  void TearDown() override { fs::remove_all(root); }

  // Runs the launch prompt with these answers and returns the last alert's text.
  std::string choose(std::vector<int> answers) {
    QuietLinuxPlatform platform(resources.string(), home.string());
    platform.answers = std::move(answers);
    InstallerApp(platform, AgentSystem::XdgAutostart).applicationDidFinishLaunching();
    prompt = platform.alerts.front();
    commands = platform.commands;
    return platform.alerts.back().informativeText;
  }
  std::string install() { return choose({kAlertFirstButtonReturn}); }

  fs::path installDir() const { return home / ".local/share/Pelagrin"; }
  fs::path autostartDir() const { return home / ".config/autostart"; }
  fs::path desktopFile() const { return autostartDir() / "app.pelagrin.helper.desktop"; }

  fs::path root, home, resources;
  Alert prompt;
  std::vector<std::string> commands;
};

TEST_F(LinuxPlatformTest, ReinstallReplacesTheBundleAndBareHelperAndKeepsOtherFiles) {
  writeFile(installDir() / "notes.txt", "mine");
  writeFile(installDir() / "PelagrinHelper", "bare");
  writeFile(installDir() / "PelagrinHelper.app/old-only.txt", "old");

  EXPECT_EQ(install().rfind("Sensor Helper installed and running!", 0), 0u);
  EXPECT_EQ(prompt.buttons[0].title, "Reinstall");

  const fs::path program = installDir() / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper";
  EXPECT_EQ(readFile(installDir() / "notes.txt"), "mine");
  EXPECT_FALSE(fs::exists(installDir() / "PelagrinHelper"));
  EXPECT_FALSE(fs::exists(installDir() / "PelagrinHelper.app/old-only.txt"));
  EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(readFile(desktopFile()), "Exec=\"" + installDir().string() + "/run\"\n");
  EXPECT_EQ(commands, (std::vector<std::string>{"/usr/bin/killall PelagrinHelper", "/usr/bin/setsid -f " + program.string()}));
}

TEST_F(LinuxPlatformTest, EveryExactPlaceholderIsFilledAndNothingElse) {
  const std::string dir = installDir().string();
  for (const auto& [templateText, expected] : std::vector<std::pair<std::string, std::string>>{
           {"A=__INSTALL_PATH__ __INSTALL_PATH__\nB=__install_path__\n", "A=" + dir + " " + dir + "\nB=__install_path__\n"},
           {"[Desktop Entry]\nName=none\n", "[Desktop Entry]\nName=none\n"}}) {
    writeFile(resources / "app.pelagrin.helper.desktop", templateText);
    install();
    EXPECT_EQ(readFile(desktopFile()), expected);
  }
}

TEST_F(LinuxPlatformTest, UnreadableTemplateIsReportedWithItsReason) {
  const fs::path templatePath = resources / "app.pelagrin.helper.desktop";
  fs::remove(templatePath);
  fs::create_directories(templatePath);
  EXPECT_EQ(install(), "Failed to install LaunchAgent:\nCannot read \"" + templatePath.string() + "\": Is a directory.");

  fs::remove(templatePath);
  writeFile(templatePath, "Name=\xC3\x28\n");
  EXPECT_EQ(install(), "Failed to install LaunchAgent:\n\"" + templatePath.string() + "\" is not valid UTF-8 text.");
  EXPECT_FALSE(fs::exists(desktopFile()));
}

TEST_F(LinuxPlatformTest, UnwritableAutostartFolderIsReportedAndLeavesNoTemporaryFile) {
  writeFile(autostartDir(), "a file where the folder belongs");
  EXPECT_EQ(install(), "Failed to install LaunchAgent:\nCannot create the folder \"" + autostartDir().string() +
                           "\": Not a directory.");

  // Root may write anywhere, but not past the file-size limit: room for the
  // helper's copy, not for the filled-in entry.
  fs::remove(autostartDir());
  fs::create_directories(autostartDir());
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  const rlimit tiny{32, previous.rlim_max};
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &tiny);
  const std::string text = install();
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(text, "Failed to install LaunchAgent:\nCannot write \"" + desktopFile().string() + "\": File too large.");
  EXPECT_TRUE(fs::is_empty(autostartDir()));
}

TEST_F(LinuxPlatformTest, UninstallRemovesEveryInstalledFile) {
  install();
  writeFile(installDir() / "notes.txt", "mine");
  EXPECT_EQ(choose({kAlertSecondButtonReturn, kAlertFirstButtonReturn}).rfind("Sensor Helper uninstalled.", 0), 0u);
  EXPECT_FALSE(fs::exists(installDir()));
  EXPECT_FALSE(fs::exists(desktopFile()));
  EXPECT_TRUE(fs::exists(autostartDir()));
  EXPECT_EQ(prompt.buttons[0].title, "Reinstall");
}

TEST(LinuxHomeDirectory, ComesFromAnAbsoluteHomeElseTheUserDatabase) {
  EXPECT_EQ(resolveHomeDirectory("/home/Tom & Jerry//"), "/home/Tom & Jerry");
  const std::string fromDatabase = resolveHomeDirectory(nullptr);
  EXPECT_EQ(fromDatabase.front(), '/');
  EXPECT_EQ(resolveHomeDirectory("relative/home"), fromDatabase);
  EXPECT_EQ(resolveHomeDirectory(""), fromDatabase);
}

}  // namespace
