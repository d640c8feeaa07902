// InstallerApp, the launchd flavor, against a platform that answers from a
// script and writes down everything asked of it: one golden record a scenario.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <fstream>
#include <set>
#include <sstream>

#include "HelperInstaller.h"
#include "runShell.h"

namespace {

const std::string kHome = "/Users/Tom & Jerry";
const std::string kInstallDir = kHome + "/Library/Application Support/Pelagrin";
const std::string kBundle = kInstallDir + "/PelagrinHelper.app";
const std::string kBinary = kInstallDir + "/PelagrinHelper";
const std::string kPlist = kHome + "/Library/LaunchAgents/app.pelagrin.helper.plist";
const std::string kResources = "/Apps/HelperInstaller.app/Contents/Resources/";
// The launch prompt's buttons, then the uninstall confirmation's.
constexpr int kInstall = kAlertFirstButtonReturn, kUninstall = kAlertSecondButtonReturn, kCancel = kUninstall + 1;
constexpr int kConfirm = kAlertFirstButtonReturn, kDecline = kAlertSecondButtonReturn;
const char* const kStyleNames[] = {"warning", "informational", "critical"};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Unless a scenario says otherwise: installed, and started at the first try.
struct Scenario {
  std::string name;
  std::deque<int> answers = {kInstall};
  int bootstrap = 0;
  int load = 1;
  std::string failing = "";  // the one request that fails, with "refused"
  std::set<std::string> existing = {kBundle, kPlist};
  std::string plist = "<string>__INSTALL_PATH__</string>";
  std::string home = kHome;
};

struct RecordingPlatform : Platform {
  Scenario scenario;
  std::ostringstream record;

  int runModal(const Alert& alert) override {
    record << "alert " << kStyleNames[static_cast<int>(alert.style)] << " " << alert.title << ": "
           << alert.informativeText;
    for (const AlertButton& button : alert.buttons)
      record << " [" << button.title << (button.enabled ? "]" : " (off)]");
    record << "\n";
    if (scenario.answers.empty()) return kAlertDismissed;
    const int answer = scenario.answers.front();
    scenario.answers.pop_front();
    return answer;
  }
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) override {
    return kResources + name + "." + type;
  }
  std::string homeDirectory() override { return scenario.home; }
  std::uint32_t userId() override { return 501; }
  bool fileExists(const std::string& path) override { return scenario.existing.count(path) > 0; }
  bool isGone(const std::string& path) override { return scenario.existing.count(path) == 0; }
  std::vector<std::string> folderEntries(const std::string& path) override {
    ask("list " + path);
    std::vector<std::string> names;
    for (const std::string& existing : scenario.existing) {
      if (existing.rfind(path + "/", 0) == 0) names.push_back(existing.substr(path.size() + 1));
    }
    return names;
  }
  FileError removeItem(const std::string& path) override { return forget(path, ask("remove " + path)); }
  FileError removeEmptyDirectory(const std::string& path) override { return forget(path, ask("rmdir " + path)); }
  FileError createDirectory(const std::string& path) override { return ask("mkdir " + path); }
  FileError copyItem(const std::string& from, const std::string& to) override { return ask("copy " + from + " " + to); }
  FileError readTextFile(const std::string& path, std::string& text) override {
    text = scenario.plist;
    return ask("read " + path);
  }
  FileError writeTextFileAtomically(const std::string& path, const std::string& text) override {
    return ask("write " + path + "\n" + text);
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    std::string command = "run " + executable;
    for (const std::string& argument : arguments) command += " " + argument;
    ask(command);
    if (arguments[0] == "bootstrap") return scenario.bootstrap;
    if (arguments[0] == "load") return scenario.load;
    return 1;
  }
  void sleepFor(double seconds) override { ask("sleep " + std::to_string(seconds)); }

  FileError ask(const std::string& request) {
    record << request << "\n";
    if (request == scenario.failing) return "refused";
    return std::nullopt;
  }
  FileError forget(const std::string& path, FileError error) {
    if (!error) scenario.existing.erase(path);
    return error;
  }
};

TEST(InstallerApp, EveryScenarioAsksAndShowsWhatItsRecordSays) {
  const std::string shipped = readFile(INSTALLER_RESOURCES "/app.pelagrin.helper.plist");
  const std::string finderMetadata = kInstallDir + "/.DS_Store";
  const std::deque<int> confirmed = {kUninstall, kConfirm};
  const Scenario scenarios[] = {
      {.name = "prompt-nothing-installed", .answers = {kCancel}, .existing = {}},
      {.name = "install-bootstrap-starts-it"},
      {.name = "install-over-a-bare-helper-load-starts-it", .bootstrap = 3, .load = 0, .existing = {kBinary}},
      {.name = "install-neither-starts-it", .bootstrap = 5, .load = -2},
      {.name = "install-folder-fails", .failing = "mkdir " + kInstallDir},
      {.name = "install-copy-fails", .failing = "copy " + kResources + "PelagrinHelper.app " + kBundle},
      {.name = "install-template-unreadable", .failing = "read " + kResources + "app.pelagrin.helper.plist"},
      {.name = "install-placeholders", .plist = "__INSTALL_PATH__ __INSTALL_PATH__/x __install_path__"},
      {.name = "install-shipped-template", .plist = shipped},
      {.name = "install-home-no-plist-can-hold", .plist = shipped, .home = "/Users/bell\x07"},
      {.name = "uninstall-cancelled", .answers = {kUninstall, kDecline}},
      {.name = "uninstall", .answers = confirmed, .existing = {kBundle, kPlist, finderMetadata}},
      {.name = "uninstall-keeps-a-folder-others-use",
       .answers = confirmed,
       .failing = "rmdir " + kInstallDir,
       .existing = {kBundle, kInstallDir + "/notes.txt", finderMetadata}},
      {.name = "uninstall-agent-file-stays", .answers = confirmed, .failing = "remove " + kPlist},
      {.name = "uninstall-bundle-stays", .answers = confirmed, .failing = "remove " + kBundle},
  };
  for (const Scenario& scenario : scenarios) {
    RecordingPlatform platform;
    platform.scenario = scenario;
    InstallerApp(platform, AgentSystem::Launchd).applicationDidFinishLaunching();
    const std::string golden = PELAGRIN_FIXTURES "/installer/" + scenario.name + ".txt";
    if (std::getenv("PELAGRIN_BLESS")) std::ofstream(golden) << platform.record.str();
    EXPECT_EQ(platform.record.str(), readFile(golden)) << scenario.name;
  }
}

// Started with no standard input, the commands still run: cat reads /dev/null.
TEST(RunShell, RunsCommandsWithStandardInputClosed) {
  const int savedInput = dup(STDIN_FILENO);
  close(STDIN_FILENO);
  const int catStatus = runShell("/bin/cat", {});
  dup2(savedInput, STDIN_FILENO);
  close(savedInput);
  EXPECT_EQ(catStatus, 0);
}

}  // namespace
