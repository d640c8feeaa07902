#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "HelperInstaller.h"

namespace {

const std::string kHome = "/Users/Tom & Jerry";
const std::string kPlist = kHome + "/Library/LaunchAgents/app.pelagrin.helper.plist";
const std::string kInstallDir = kHome + "/Library/Application Support/Pelagrin";
const std::string kBundle = kInstallDir + "/PelagrinHelper.app";
const std::string kBinary = kInstallDir + "/PelagrinHelper";
const std::string kResources = "/Apps/HelperInstaller.app/Contents/Resources";
const std::string kInstalled =
    "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real CPU "
    "temperature and GPU utilization.";
const std::string kUninstalled =
    "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.";
const std::string kStartFailed = "Helper installed but failed to start (launchctl error ";
const std::string kTryAgain = ").\n\nTry logging out and back in.";
const std::string kAgentFailed = "Failed to install LaunchAgent:\nrefused";

// Answers from a script and writes down every request in order, one line each.
struct RecordingPlatform : Platform {
  std::deque<int> answers;
  std::map<std::string, int> statusOf{{"bootstrap", 1}, {"load", 1}};  // by subcommand; others 1 too
  std::set<std::string> existing, missingResourceTypes;
  std::string failing;  // the one event that fails, with "refused"
  std::string home = kHome, agentTemplate = "<string>__INSTALL_PATH__</string>", written;
  std::vector<Alert> alerts;
  std::vector<std::string> events;

  int runModal(const Alert& alert) override {
    alerts.push_back(alert);
    if (answers.empty()) return kAlertDismissed;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) override {
    if (missingResourceTypes.count(type)) return std::nullopt;
    return kResources + "/" + name + "." + type;
  }
  std::string homeDirectory() override { return home; }
  std::uint32_t userId() override { return 501; }
  bool fileExists(const std::string& path) override { return existing.count(path) > 0; }
  FileError removeItem(const std::string& path) override { return forget(path, record("remove " + path)); }
  FileError removeEmptyDirectory(const std::string& path) override { return forget(path, record("rmdir " + path)); }
  FileError createDirectory(const std::string& path) override { return record("mkdir " + path); }
  FileError copyItem(const std::string& from, const std::string& to) override { return record("copy " + from + " " + to); }
  FileError readTextFile(const std::string& path, std::string& text) override {
    text = agentTemplate;
    return record("read " + path);
  }
  FileError writeTextFileAtomically(const std::string& path, const std::string& text) override {
    written = text;
    return record("write " + path);
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    events.push_back("run " + executable);
    for (const std::string& argument : arguments) events.back() += " | " + argument;
    const auto status = statusOf.find(arguments.at(0));
    return status == statusOf.end() ? 1 : status->second;
  }
  void sleepFor(double seconds) override { events.push_back("sleep " + std::to_string(seconds)); }

  FileError record(const std::string& event) {
    events.push_back(event);
    return event == failing ? FileError("refused") : std::nullopt;
  }
  FileError forget(const std::string& path, FileError error) {
    if (!error) existing.erase(path);
    return error;
  }
  void run(std::deque<int> script) {
    answers = std::move(script);
    InstallerApp(*this, AgentSystem::Launchd).applicationDidFinishLaunching();
  }
  std::string result() const { return alerts.back().title + "\n" + alerts.back().informativeText; }
};

const std::vector<std::string> kStopEarlier{"run /bin/launchctl | bootout | gui/501/app.pelagrin.helper.plist",
                                            "run /bin/launchctl | unload | " + kPlist,
                                            "run /usr/bin/killall | PelagrinHelper"};

TEST(Install, RunsEveryStepInOrderAndReportsTheStart) {
  const struct {
    int bootstrap, load;
    std::string result;
  } cases[] = {{0, 1, "Success\n" + kInstalled},
               {3, 0, "Success\n" + kInstalled},
               {5, 1, "Installation Failed\n" + kStartFailed + "1" + kTryAgain},
               {5, -2, "Installation Failed\n" + kStartFailed + "-2" + kTryAgain}};
  for (const auto& c : cases) {
    RecordingPlatform platform;
    platform.statusOf = {{"bootstrap", c.bootstrap}, {"load", c.load}};
    platform.run({kAlertFirstButtonReturn});
    std::vector<std::string> expected = kStopEarlier;
    expected.insert(expected.end(), {"remove " + kPlist, "sleep 1.500000", "mkdir " + kInstallDir, "remove " + kBundle,
                                     "remove " + kBinary, "copy " + kResources + "/PelagrinHelper.app " + kBundle,
                                     "read " + kResources + "/app.pelagrin.helper.plist",
                                     "mkdir " + kHome + "/Library/LaunchAgents", "write " + kPlist,
                                     "run /bin/launchctl | bootstrap | gui/501 | " + kPlist});
    if (c.bootstrap != 0) expected.push_back("run /bin/launchctl | load | " + kPlist);
    EXPECT_EQ(platform.events, expected);
    EXPECT_EQ(platform.result(), c.result);
    EXPECT_EQ(platform.alerts.back().style, c.bootstrap * c.load == 0 ? AlertStyle::Informational : AlertStyle::Critical);
    EXPECT_TRUE(platform.alerts.back().buttons.empty());
    EXPECT_EQ(platform.written, "<string>/Users/Tom &amp; Jerry/Library/Application Support/Pelagrin</string>");
  }
}

TEST(Install, EachFailureShowsOneErrorAndStopsThere) {
  const struct {
    std::set<std::string> missing;
    std::string failing, home, text;
  } cases[] = {
      {{"app", "plist"}, "", kHome, "Could not find the embedded helper app in Resources."},
      {{"plist"}, "", kHome, "Could not find the embedded LaunchAgent plist."},
      {{}, "mkdir " + kInstallDir, kHome, "Failed to create directory:\nrefused"},
      {{}, "copy " + kResources + "/PelagrinHelper.app " + kBundle, kHome, "Failed to copy helper app:\nrefused"},
      {{}, "read " + kResources + "/app.pelagrin.helper.plist", kHome, kAgentFailed},
      {{}, "mkdir " + kHome + "/Library/LaunchAgents", kHome, kAgentFailed},
      {{}, "write " + kPlist, kHome, kAgentFailed},
      // The helper is in place; an agent file that would be malformed is not written.
      {{}, "read " + kResources + "/app.pelagrin.helper.plist", "/Users/bell\x07",
       "Failed to install LaunchAgent:\nThe install folder's path holds a character that a property list cannot "
       "hold."},
  };
  for (const auto& c : cases) {
    RecordingPlatform platform;
    platform.missingResourceTypes = c.missing;
    platform.home = c.home;
    if (c.home == kHome) platform.failing = c.failing;
    platform.run({kAlertFirstButtonReturn});
    EXPECT_EQ(platform.events.empty() ? "" : platform.events.back(), c.failing);
    ASSERT_EQ(platform.alerts.size(), 2u);
    EXPECT_EQ(platform.result(), "Installation Failed\n" + c.text);
    EXPECT_EQ(platform.alerts.back().style, AlertStyle::Critical);
  }
}

TEST(Install, FillsEveryExactPlaceholderAndNothingElse) {
  const std::string dir = "/Users/Tom &amp; Jerry/Library/Application Support/Pelagrin";
  const std::pair<std::string, std::string> cases[] = {
      {"__INSTALL_PATH__ __INSTALL_PATH__/x __install_path__", dir + " " + dir + "/x __install_path__"},
      {"<plist/>\r\n", "<plist/>\r\n"}};
  for (const auto& [text, filled] : cases) {
    RecordingPlatform platform;
    platform.agentTemplate = text;
    platform.run({kAlertFirstButtonReturn});
    EXPECT_EQ(platform.written, filled);
  }
}

TEST(Prompt, OffersWhatFitsTheInstalledStateAndCancelDoesNothing) {
  const std::pair<std::string, std::string> cases[] = {{"", "Install|Uninstall (off)|Cancel|"},
                                                       {kPlist, "Install|Uninstall (off)|Cancel|"},
                                                       {kBundle, "Reinstall|Uninstall|Cancel|"},
                                                       {kBinary, "Reinstall|Uninstall|Cancel|"}};
  for (const auto& [existing, buttons] : cases) {
    RecordingPlatform platform;
    platform.existing = {existing};
    platform.run({1002});
    ASSERT_EQ(platform.alerts.size(), 1u);
    const Alert& prompt = platform.alerts[0];
    std::string titles;
    for (const AlertButton& button : prompt.buttons) titles += button.title + (button.enabled ? "|" : " (off)|");
    EXPECT_EQ(titles, buttons);
    EXPECT_TRUE(platform.events.empty());
    EXPECT_EQ(prompt.style, AlertStyle::Informational);
    EXPECT_EQ(prompt.title + "\n" + prompt.informativeText,
              "Pelagrin Sensor Helper\nThis helper runs quietly in the background and provides real CPU temperature "
              "and GPU utilization to Pelagrin.\n\n\u2022 Starts automatically at login\n\u2022 Uses minimal "
              "resources\n\u2022 Communicates only with Pelagrin via localhost");
  }
}

TEST(Install, FillsTheShippedTemplateForAHomeThatHoldsAnAmpersand) {
  RecordingPlatform platform;
  std::ifstream shipped(INSTALLER_RESOURCES "/app.pelagrin.helper.plist");
  platform.agentTemplate.assign(std::istreambuf_iterator<char>(shipped), {});
  platform.run({kAlertFirstButtonReturn});
  EXPECT_NE(platform.written.find("<string>/Users/Tom &amp; Jerry/Library/Application Support/Pelagrin/"
                                  "PelagrinHelper.app/Contents/MacOS/PelagrinHelper</string>"),
            std::string::npos);
  // The macOS CI workflow lints the file with plutil.
  if (const char* path = std::getenv("PELAGRIN_FILLED_AGENT")) std::ofstream(path) << platform.written;
}

TEST(Uninstall, AsksFirstThenStopsAndRemovesWhatTheInstallerPutThere) {
  RecordingPlatform platform;
  platform.existing = {kBundle};
  platform.run({kAlertSecondButtonReturn, kAlertSecondButtonReturn});
  EXPECT_TRUE(platform.events.empty());
  ASSERT_EQ(platform.alerts.size(), 2u);
  EXPECT_EQ(platform.result(),
            "Uninstall Sensor Helper?\nThis will stop the helper and remove it from your system. Pelagrin will fall "
            "back to network and thermal state gauges.");
  EXPECT_EQ(platform.alerts.back().style, AlertStyle::Warning);
  EXPECT_EQ(platform.alerts.back().buttons.size(), 2u);
  EXPECT_EQ(platform.alerts.back().buttons[0].title + "|" + platform.alerts.back().buttons[1].title, "Uninstall|Cancel");

  // A folder with files of others stays; a file that stays behind and would
  // bring the helper back at the next login is reported, not hidden.
  const std::pair<std::string, std::string> cases[] = {
      {"", "Success\n" + kUninstalled},
      {"rmdir " + kInstallDir, "Success\n" + kUninstalled},
      {"remove " + kBinary, "Success\n" + kUninstalled},
      {"remove " + kPlist, "Uninstall Failed\nFailed to remove LaunchAgent:\nrefused"},
      {"remove " + kBundle, "Uninstall Failed\nFailed to remove helper app:\nrefused"}};
  for (const auto& [failing, result] : cases) {
    platform = RecordingPlatform();
    platform.existing = {kPlist, kBundle};
    platform.failing = failing;
    platform.run({kAlertSecondButtonReturn, kAlertFirstButtonReturn});
    std::vector<std::string> expected = kStopEarlier;
    expected.insert(expected.end(), {"remove " + kPlist, "remove " + kBundle, "remove " + kBinary, "rmdir " + kInstallDir});
    EXPECT_EQ(platform.events, expected);
    EXPECT_EQ(platform.result(), result);
    EXPECT_EQ(platform.alerts.back().style, result[0] == 'S' ? AlertStyle::Informational : AlertStyle::Critical);
  }
}

}  // namespace
