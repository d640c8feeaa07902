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
// recorded instead: these tests must not stop helpers that others are running.
class QuietLinuxPlatform : public LinuxPlatform {
 public:
  QuietLinuxPlatform(const fs::path& resources, const fs::path& home)
      : LinuxPlatform(resources.string(), home.string(), std::cin, std::cout) {}

  int runModal(const Alert& alert) override {
    alerts.push_back(alert);
    return kAlertFirstButtonReturn;
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    commands.push_back(executable);
    for (const std::string& argument : arguments) commands.back() += " " + argument;
    return 0;
  }
  void sleepFor(double) override {}

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
    fs::remove_all(root);
    writeFile(resources / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper", "#!/bin/sh\n");
    fs::permissions(resources / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper", fs::perms::owner_all);
    writeFile(resources / "app.pelagrin.helper.desktop", "Exec=\"__INSTALL_PATH__/run\"\n");
    fs::create_directories(home);
  }
  void TearDown() override { fs::remove_all(root); }

  // Chooses the prompt's first button and returns the result alert's text.
  std::string install() {
    QuietLinuxPlatform platform(resources, home);
    InstallerApp(platform, AgentSystem::XdgAutostart).applicationDidFinishLaunching();
    firstButton = platform.alerts.front().buttons.front().title;
    commands = platform.commands;
    return platform.alerts.back().informativeText;
  }

  const fs::path root = fs::path(::testing::TempDir()) / ("installer " + std::to_string(getpid()));
  const fs::path home = root / "Tom & Jerry";
  const fs::path resources = root / "HelperInstaller.app/Contents/Resources";
  const fs::path installDir = home / ".local/share/Pelagrin";
  const fs::path autostartDir = home / ".config/autostart";
  const fs::path desktopFile = autostartDir / "app.pelagrin.helper.desktop";
  std::string firstButton;
  std::vector<std::string> commands;
};

TEST_F(LinuxPlatformTest, ReinstallReplacesTheBundleAndBareHelperAndKeepsOtherFiles) {
  writeFile(installDir / "notes.txt", "mine");
  writeFile(installDir / "PelagrinHelper", "bare");
  writeFile(installDir / "PelagrinHelper.app/old-only.txt", "old");

  EXPECT_EQ(install().rfind("Sensor Helper installed and running!", 0), 0u);
  EXPECT_EQ(firstButton, "Reinstall");
  const fs::path program = installDir / "PelagrinHelper.app/Contents/MacOS/PelagrinHelper";
  EXPECT_EQ(readFile(installDir / "notes.txt"), "mine");
  EXPECT_FALSE(fs::exists(installDir / "PelagrinHelper"));
  EXPECT_FALSE(fs::exists(installDir / "PelagrinHelper.app/old-only.txt"));
  EXPECT_EQ(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(readFile(desktopFile), "Exec=\"" + installDir.string() + "/run\"\n");
  EXPECT_EQ(commands, (std::vector<std::string>{"/usr/bin/killall PelagrinHelper", "/usr/bin/setsid -f " + program.string()}));
}

TEST_F(LinuxPlatformTest, EveryExactPlaceholderIsFilledAndNothingElse) {
  const std::string dir = installDir.string();
  for (const auto& [text, filled] : std::vector<std::pair<std::string, std::string>>{
           {"A=__INSTALL_PATH__ __INSTALL_PATH__\nB=__install_path__\n", "A=" + dir + " " + dir + "\nB=__install_path__\n"},
           {"[Desktop Entry]\nName=none\n", "[Desktop Entry]\nName=none\n"}}) {
    writeFile(resources / "app.pelagrin.helper.desktop", text);
    install();
    EXPECT_EQ(readFile(desktopFile), filled);
  }
}

TEST_F(LinuxPlatformTest, UnreadableTemplateIsReportedWithItsReason) {
  const fs::path templatePath = resources / "app.pelagrin.helper.desktop";
  fs::remove(templatePath);
  fs::create_directories(templatePath);
  EXPECT_EQ(install(), "Failed to install LaunchAgent:\nCannot read \"" + templatePath.string() + "\": Is a directory.");
  EXPECT_FALSE(fs::exists(desktopFile));
}

TEST_F(LinuxPlatformTest, UnwritableAutostartFolderIsReportedAndLeavesNoTemporaryFile) {
  writeFile(autostartDir, "a file where the folder belongs");
  EXPECT_EQ(install(), "Failed to install LaunchAgent:\nCannot create the folder \"" + autostartDir.string() +
                           "\": Not a directory.");

  // Root may write anywhere, but not past the file-size limit: room for the
  // helper's copy, not for the filled-in entry.
  fs::remove(autostartDir);
  fs::create_directories(autostartDir);
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  const rlimit tiny{32, previous.rlim_max};
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &tiny);
  const std::string text = install();
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(text, "Failed to install LaunchAgent:\nCannot write \"" + desktopFile.string() + "\": File too large.");
  EXPECT_TRUE(fs::is_empty(autostartDir));
}

TEST(LinuxHomeDirectory, ComesFromAnAbsoluteHomeElseTheUserDatabase) {
  EXPECT_EQ(resolveHomeDirectory("/home/Tom & Jerry//"), "/home/Tom & Jerry");
  const std::string fromDatabase = resolveHomeDirectory(nullptr);
  EXPECT_EQ(fromDatabase.front(), '/');
  EXPECT_EQ(resolveHomeDirectory("relative/home"), fromDatabase);
}

}  // namespace
