// InstallerApp, the launchd flavor, against a platform that answers from a
// script and writes down everything asked of it. Each scenario's record must
// equal tests/fixtures/installer/<scenario>.txt; PELAGRIN_BLESS=1 rewrites the
// files from what runs now (read the diff before keeping it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <fstream>
#include <set>
#include <sstream>

#include "HelperInstaller.h"

namespace {

const std::string kHome = "/Users/Tom & Jerry";
const std::string kInstallDir = kHome + "/Library/Application Support/Pelagrin";
const std::string kBundle = kInstallDir + "/PelagrinHelper.app", kBinary = kInstallDir + "/PelagrinHelper";
const std::string kPlist = kHome + "/Library/LaunchAgents/app.pelagrin.helper.plist";

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Scenario {
  std::string name;
  std::deque<int> answers;
  int bootstrap = 1, load = 1;
  std::string failing{};  // the one request that fails, with "refused"
  std::set<std::string> existing{kBundle};
  std::string agentTemplate = "<string>__INSTALL_PATH__</string>", home = kHome;
};

struct RecordingPlatform : Platform {
  Scenario scenario;
  std::ostringstream record;

  int runModal(const Alert& alert) override {
    record << "alert " << static_cast<int>(alert.style) << " " << alert.title << ": " << alert.informativeText;
    for (const AlertButton& button : alert.buttons)
      record << " [" << button.title << (button.enabled ? "]" : " (off)]");
    scenario.answers.push_back(kAlertDismissed);  // once the answers run out
    const int answer = scenario.answers.front();
    return record << "\n", scenario.answers.pop_front(), answer;
  }
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) override {
    return "/Apps/HelperInstaller.app/Contents/Resources/" + name + "." + type;
  }
  std::string homeDirectory() override { return scenario.home; }
  std::uint32_t userId() override { return 501; }
  bool fileExists(const std::string& path) override { return scenario.existing.count(path) > 0; }
  FileError removeItem(const std::string& path) override { return forget(path, ask("remove " + path)); }
  FileError removeEmptyDirectory(const std::string& path) override { return forget(path, ask("rmdir " + path)); }
  FileError createDirectory(const std::string& path) override { return ask("mkdir " + path); }
  FileError copyItem(const std::string& from, const std::string& to) override { return ask("copy " + from + " " + to); }
  FileError readTextFile(const std::string& path, std::string& text) override {
    return text = scenario.agentTemplate, ask("read " + path);
  }
  FileError writeTextFileAtomically(const std::string& path, const std::string& text) override {
    return ask("write " + path + "\n" + text);
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    std::string command = "run " + executable;
    for (const std::string& argument : arguments) command += " " + argument;
    return ask(command), arguments[0] == "bootstrap" ? scenario.bootstrap : arguments[0] == "load" ? scenario.load : 1;
  }
  void sleepFor(double seconds) override { ask("sleep " + std::to_string(seconds)); }

  FileError ask(const std::string& request) {
    record << request << "\n";
    return request == scenario.failing ? FileError("refused") : std::nullopt;
  }
  FileError forget(const std::string& path, FileError error) {
    if (!error) scenario.existing.erase(path);
    return error;
  }
};

TEST(InstallerApp, EveryScenarioAsksAndShowsWhatItsRecordSays) {
  const std::string shipped = readFile(INSTALLER_RESOURCES "/app.pelagrin.helper.plist");
  const Scenario scenarios[] = {
      {"prompt-nothing-installed", {1002}, 1, 1, "", {}},
      {"prompt-agent-file-only", {1002}, 1, 1, "", {kPlist}},
      {"prompt-bundle-installed", {1002}},
      {"prompt-bare-helper-installed", {1002}, 1, 1, "", {kBinary}},
      {"install-bootstrap-starts-it", {1000}, 0},
      {"install-load-starts-it", {1000}, 3, 0},
      {"install-neither-starts-it", {1000}, 5, 1},
      {"install-neither-starts-it-negative", {1000}, 5, -2},
      {"install-folder-fails", {1000}, 0, 1, "mkdir " + kInstallDir},
      {"install-copy-fails",
       {1000},
       0,
       1,
       "copy /Apps/HelperInstaller.app/Contents/Resources/PelagrinHelper.app " + kBundle},
      {"install-template-unreadable",
       {1000},
       0,
       1,
       "read /Apps/HelperInstaller.app/Contents/Resources/app.pelagrin.helper.plist"},
      {"install-placeholders", {1000}, 0, 1, "", {}, "__INSTALL_PATH__ __INSTALL_PATH__/x __install_path__"},
      {"install-shipped-template", {1000}, 0, 1, "", {}, shipped},
      {"install-home-no-plist-can-hold", {1000}, 0, 1, "", {}, shipped, "/Users/bell\x07"},
      {"uninstall-cancelled", {1001, 1001}},
      {"uninstall", {1001, 1000}, 1, 1, "", {kBundle, kPlist}},
      {"uninstall-keeps-a-folder-others-use", {1001, 1000}, 1, 1, "rmdir " + kInstallDir},
      {"uninstall-agent-file-stays", {1001, 1000}, 1, 1, "remove " + kPlist, {kBundle, kPlist}},
      {"uninstall-bundle-stays", {1001, 1000}, 1, 1, "remove " + kBundle},
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

}  // namespace
