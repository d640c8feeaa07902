#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "HelperInstaller.h"
#include "LinuxPlatform.h"
#include "runShell.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// The names in a folder, where a stray temporary file would show.
std::set<std::string> entries(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code missing;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, missing)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A temporary home and, beside it, an installer's Resources folder.
const fs::path kRoot = fs::path(::testing::TempDir()) / ("installer " + std::to_string(getpid()));
const fs::path kHome = kRoot / "Tom & Jerry";
const fs::path kResources = kRoot / "HelperInstaller.app/Contents/Resources";
const fs::path kHelperBundle = kResources / "PelagrinHelper.app";
const fs::path kInstallDir = kHome / ".local/share/Pelagrin";
const fs::path kBundlePath = kInstallDir / "PelagrinHelper.app";
const fs::path kProgram = kBundlePath / "Contents/MacOS/PelagrinHelper";
const fs::path kAutostartDir = kHome / ".config/autostart";
const fs::path kDesktopFile = kAutostartDir / "app.pelagrin.helper.desktop";

// The real Linux platform in that home, with a helper bundle and an autostart
// template among the resources, the dialogs answered from a script and the
// pause skipped; everything is removed afterwards.
class InstallerSandbox : public LinuxPlatform {
 public:
  InstallerSandbox() : LinuxPlatform(kResources.string(), kHome.string(), std::cin, std::cout) {
    fs::remove_all(kRoot);
    writeFile(kHelperBundle / "Contents/MacOS/PelagrinHelper", "#!/bin/sh\n");
    fs::permissions(kHelperBundle / "Contents/MacOS/PelagrinHelper", fs::perms::owner_all);
    writeFile(kResources / "app.pelagrin.helper.desktop", "Exec=\"__INSTALL_PATH__/run\"\n");
    fs::create_directories(kHome);
  }
  ~InstallerSandbox() override {
    std::error_code ignored;
    fs::remove_all(kRoot, ignored);
  }
  InstallerSandbox(const InstallerSandbox&) = delete;

  // Each returns the result alert.
  Alert install() { return run({kAlertFirstButtonReturn}); }
  Alert uninstall() { return run({kAlertSecondButtonReturn, kAlertFirstButtonReturn}); }

  int runModal(const Alert& alert) override {
    shown.push_back(alert);
    return shown.size() <= choices_.size() ? choices_[shown.size() - 1] : kAlertFirstButtonReturn;
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    commands.push_back(executable);
    for (const std::string& argument : arguments) commands.back() += " " + argument;
    return runCommand ? runCommand(executable, arguments) : 0;
  }
  void sleepFor(double) override {}

  // Carries out the commands. Unset, they are only recorded and succeed: a
  // real killall would stop helpers that others are running.
  std::function<int(const std::string& executable, const std::vector<std::string>& arguments)> runCommand;
  std::vector<std::string> commands;  // each as "executable argument..."
  std::vector<Alert> shown;           // the last run's dialogs

 private:
  Alert run(std::vector<int> choices) {
    choices_ = std::move(choices);
    shown.clear();
    InstallerApp(*this, AgentSystem::XdgAutostart).applicationDidFinishLaunching();
    return shown.back();
  }

  std::vector<int> choices_;
};

const std::string kInstalled =
    "Success\nSensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real "
    "CPU temperature and GPU utilization.";
const std::string kUninstalled =
    "Success\nSensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.";
constexpr const char* kNoNamespace =
    "no private mount namespace here (it needs root and CLONE_NEWNS); UnwritableAgentFile still covers a failed write";

std::string describe(const Alert& alert) { return alert.title + "\n" + alert.informativeText; }

// Every entry under `folder` by its relative path: "folder", "file: <content>"
// or "link to <target>". Links are listed, never followed.
std::map<std::string, std::string> treeListing(const fs::path& folder) {
  std::map<std::string, std::string> listing;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink()) {
      listing[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else {
      listing[name] = entry.is_directory() ? "folder" : "file: " + readFile(entry.path());
    }
  }
  return listing;
}

TEST(LinuxPlatform, ReinstallReplacesTheBundleAndBareHelperAndKeepsOtherFiles) {
  InstallerSandbox sandbox;
  writeFile(kInstallDir / "notes.txt", "mine");
  writeFile(kInstallDir / "PelagrinHelper", "bare");
  writeFile(kBundlePath / "old-only.txt", "old");

  EXPECT_EQ(sandbox.install().informativeText.rfind("Sensor Helper installed and running!", 0), 0u);
  EXPECT_EQ(sandbox.shown.front().buttons.front().title, "Reinstall");
  EXPECT_EQ(readFile(kInstallDir / "notes.txt"), "mine");
  EXPECT_FALSE(fs::exists(kInstallDir / "PelagrinHelper"));
  EXPECT_FALSE(fs::exists(kBundlePath / "old-only.txt"));
  EXPECT_EQ(fs::status(kProgram).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(readFile(kDesktopFile), "Exec=\"" + kInstallDir.string() + "/run\"\n");
  EXPECT_EQ(sandbox.commands,
            (std::vector<std::string>{"/usr/bin/killall PelagrinHelper", "/usr/bin/setsid -f " + kProgram.string()}));
}

TEST(LinuxPlatform, EveryExactPlaceholderIsFilledAndNothingElse) {
  InstallerSandbox sandbox;
  const std::string dir = kInstallDir.string();
  for (const auto& [text, filled] : std::vector<std::pair<std::string, std::string>>{
           {"A=__INSTALL_PATH__ __INSTALL_PATH__\nB=__install_path__\n",
            "A=" + dir + " " + dir + "\nB=__install_path__\n"},
           {"[Desktop Entry]\nName=none\n", "[Desktop Entry]\nName=none\n"}}) {
    writeFile(kResources / "app.pelagrin.helper.desktop", text);
    sandbox.install();
    EXPECT_EQ(readFile(kDesktopFile), filled);
  }
}

TEST(LinuxPlatform, UnreadableTemplateIsReportedWithItsReason) {
  InstallerSandbox sandbox;
  const fs::path templatePath = kResources / "app.pelagrin.helper.desktop";
  fs::remove(templatePath);
  fs::create_directories(templatePath);
  EXPECT_EQ(sandbox.install().informativeText,
            "Failed to install LaunchAgent:\nCannot read \"" + templatePath.string() + "\": Is a directory.");
  EXPECT_FALSE(fs::exists(kDesktopFile));
}

// Root may write anywhere, but not past the file-size limit: room for the
// helper's copy, not for the filled-in entry.
TEST(LinuxPlatform, UnwritableAgentFileIsReportedAndLeavesNoTemporaryFile) {
  InstallerSandbox sandbox;
  fs::create_directories(kAutostartDir);
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  const rlimit tiny{32, previous.rlim_max};
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &tiny);
  const std::string text = sandbox.install().informativeText;
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(text, "Failed to install LaunchAgent:\nCannot write \"" + kDesktopFile.string() + "\": File too large.");
  EXPECT_TRUE(fs::is_empty(kAutostartDir));
}

TEST(LinuxHomeDirectory, ComesFromAnAbsoluteHomeElseTheUserDatabase) {
  EXPECT_EQ(resolveHomeDirectory("/home/Tom & Jerry//"), "/home/Tom & Jerry");
  const std::string fromDatabase = resolveHomeDirectory(nullptr);
  EXPECT_EQ(fromDatabase.front(), '/');
  EXPECT_EQ(resolveHomeDirectory("relative/home"), fromDatabase);
}

// Mounts a small tmpfs over `folder` and fills it with 1 KiB files until one
// finds no inode or no block left. The mount is private to this process, in a
// mount namespace of its own; false where the machine allows no such namespace.
bool mountFullTmpfs(const fs::path& folder, const char* options) {
  // Without MS_PRIVATE a mount under a shared "/" would reach other namespaces.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  fs::create_directories(folder);
  EXPECT_EQ(mount("tmpfs", folder.c_str(), "tmpfs", 0, options), 0) << std::strerror(errno);
  const char block[1024] = {};
  for (int n = 0;; ++n) {
    const int fd = open((folder / ("filler-" + std::to_string(n))).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const bool filled = fd < 0 || write(fd, block, sizeof block) != sizeof block;
    if (fd >= 0) close(fd);
    if (filled) return true;
  }
}

TEST(FullDisk, AgentFileThatFindsNoRoomIsReportedAndLeavesNothingBehind) {
  for (const char* options : {"size=4k", "size=64k,nr_inodes=8"}) {  // no block left, then no inode left
    SCOPED_TRACE(options);
    InstallerSandbox sandbox;
    if (!mountFullTmpfs(kAutostartDir, options)) GTEST_SKIP() << kNoNamespace;
    const std::set<std::string> filled = entries(kAutostartDir);
    const Alert result = sandbox.install();
    EXPECT_EQ(entries(kAutostartDir), filled);
    umount2(kAutostartDir.c_str(), MNT_DETACH);

    EXPECT_EQ(describe(result), "Installation Failed\nFailed to install LaunchAgent:\nCannot write \"" +
                                    kDesktopFile.string() + "\": No space left on device.");
    // The helper was placed before the agent file failed, and stays.
    EXPECT_TRUE(fs::exists(kProgram));
  }
}

TEST(FullDisk, HelperCopyThatFindsNoRoomIsReportedAndWritesNoAgentFile) {
  InstallerSandbox sandbox;
  writeFile(kDesktopFile, "an earlier agent file");
  if (!mountFullTmpfs(kInstallDir, "size=4k")) GTEST_SKIP() << kNoNamespace;
  const Alert result = sandbox.install();
  umount2(kInstallDir.c_str(), MNT_DETACH);

  const std::string reason =
      "Cannot copy \"" + kHelperBundle.string() + "\" to \"" + kBundlePath.string() + "\": No space left on device.";
  EXPECT_EQ(describe(result), "Installation Failed\nFailed to copy helper app:\n" + reason);
  // No agent may point at a helper that was never completely copied.
  EXPECT_TRUE(fs::is_empty(kAutostartDir));
}

// The install fails with the platform's reason, the uninstall still succeeds,
// and the rest of the home, the file in the way included, stays as it was.
TEST(AutostartFolderIsAFile, InstallFailsUninstallSucceedsAndTheFileIsKept) {
  for (const bool parentToo : {false, true}) {
    InstallerSandbox sandbox;
    writeFile(parentToo ? kAutostartDir.parent_path() : kAutostartDir, "the user's own notes");
    const auto besideInstallation = [&] {
      auto listing = treeListing(kHome);
      std::erase_if(listing, [](const auto& entry) { return entry.first.starts_with(".local"); });
      return listing;
    };
    const auto before = besideInstallation();

    const std::string reason = "Cannot create the folder \"" + kAutostartDir.string() + "\": Not a directory.";
    EXPECT_EQ(describe(sandbox.install()), "Installation Failed\nFailed to install LaunchAgent:\n" + reason);
    EXPECT_TRUE(fs::exists(kProgram));
    EXPECT_EQ(describe(sandbox.uninstall()), kUninstalled);
    EXPECT_FALSE(fs::exists(kInstallDir));
    EXPECT_EQ(besideInstallation(), before);
  }
}

TEST(BundleWithSymlinkLoops, IsCopiedWithItsLinksAsLinksAndRemovedWithoutFollowingThem) {
  alarm(60);  // a copy or removal that followed the loops would never end
  InstallerSandbox sandbox;
  fs::create_symlink("b", kHelperBundle / "Contents/a");
  fs::create_symlink("a", kHelperBundle / "Contents/b");
  fs::create_symlink("self", kHelperBundle / "Contents/self");
  fs::create_directory_symlink("../..", kHelperBundle / "Contents/MacOS/up");
  fs::create_directory_symlink(kHome, kHelperBundle / "Contents/home");
  writeFile(kHome / "Documents/keep.txt", "kept");
  const auto shipped = treeListing(kHelperBundle);

  EXPECT_EQ(describe(sandbox.install()), kInstalled);
  EXPECT_EQ(treeListing(kBundlePath), shipped);
  EXPECT_EQ(entries(kAutostartDir), std::set<std::string>{"app.pelagrin.helper.desktop"});
  EXPECT_EQ(describe(sandbox.uninstall()), kUninstalled);
  EXPECT_FALSE(fs::exists(kInstallDir));
  EXPECT_EQ(readFile(kHome / "Documents/keep.txt"), "kept");
  EXPECT_EQ(treeListing(kHelperBundle), shipped);
}

TEST(BundleWithSymlinkLoops, BundleThatIsItselfALoopIsNotFoundAndNothingChanges) {
  alarm(60);
  InstallerSandbox sandbox;
  fs::remove_all(kHelperBundle);
  fs::create_symlink(kHelperBundle.filename(), kHelperBundle);

  EXPECT_EQ(describe(sandbox.install()), "Installation Failed\nCould not find the embedded helper app in Resources.");
  EXPECT_TRUE(sandbox.commands.empty());
  EXPECT_TRUE(fs::is_empty(kHome));
}

// The hung command really runs and is waited for until the test kills it, as a
// user would. A stop command's status is ignored, so the procedure goes on; a
// start command's is reported, and a killed one ended by signal 9.
TEST(HungCommand, IsWaitedForUntilKilledAndTheProcedureThenFinishes) {
  alarm(60);
  constexpr auto kHangFor = 300ms;
  const std::string startFailed =
      "Installation Failed\nHelper installed but failed to start (error 9).\n\nTry logging out and back in.";
  struct Case { std::string executable; bool uninstalling; std::string result; };
  for (const Case& hung : {Case{"/usr/bin/killall", false, kInstalled}, Case{"/usr/bin/setsid", false, startFailed},
                           Case{"/usr/bin/killall", true, kUninstalled}}) {
    SCOPED_TRACE(hung.executable + (hung.uninstalling ? " while uninstalling" : " while installing"));
    InstallerSandbox sandbox;
    const fs::path stub = kRoot / "never ends";
    writeFile(stub, "#!/bin/sh\necho $$ > \"$0.pid\"\nexec sleep 3600\n");
    fs::permissions(stub, fs::perms::owner_all);
    if (hung.uninstalling) sandbox.install();

    Clock::duration waited{};
    sandbox.runCommand = [&](const std::string& executable, const std::vector<std::string>& arguments) {
      if (executable != hung.executable) return 0;
      const auto start = Clock::now();
      const int status = runShell(stub.string(), arguments);
      waited = Clock::now() - start;
      return status;
    };
    std::thread killer([&] {
      std::string pid;
      while ((pid = readFile(stub.string() + ".pid")).empty() || pid.back() != '\n') std::this_thread::sleep_for(10ms);
      std::this_thread::sleep_for(kHangFor);
      kill(std::stoi(pid), SIGKILL);
    });
    const Alert result = hung.uninstalling ? sandbox.uninstall() : sandbox.install();
    killer.join();

    EXPECT_GE(waited, kHangFor);
    EXPECT_EQ(describe(result), hung.result);
    EXPECT_EQ(entries(kAutostartDir),
              hung.uninstalling ? std::set<std::string>{} : std::set<std::string>{"app.pelagrin.helper.desktop"});
  }
}

}  // namespace
