#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

#include "HelperInstaller.h"

namespace {

constexpr const char* kHome = "/Users/Tom & Jerry";
constexpr const char* kPlist = "/Users/Tom & Jerry/Library/LaunchAgents/app.pelagrin.helper.plist";
constexpr const char* kInstallDir = "/Users/Tom & Jerry/Library/Application Support/Pelagrin";
constexpr const char* kBundle = "/Users/Tom & Jerry/Library/Application Support/Pelagrin/PelagrinHelper.app";
constexpr const char* kResources = "/Apps/HelperInstaller.app/Contents/Resources";

// Answers from a script and writes down every request, in order, as one line each.
class RecordingPlatform : public Platform {
 public:
  std::deque<int> answers;
  std::map<std::string, int> statusBySubcommand;  // keyed by the first argument
  std::set<std::string> existing;
  std::set<std::string> missingResources;
  std::map<std::string, std::string> failures;  // "mkdir <path>" and the like -> description
  std::string templateText = "<string>__INSTALL_PATH__/PelagrinHelper.app</string>";

  std::vector<Alert> alerts;
  std::vector<std::string> events;
  std::map<std::string, std::string> written;

  int runModal(const Alert& alert) override {
    alerts.push_back(alert);
    if (answers.empty()) return kAlertDismissed;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) override {
    if (missingResources.count(type)) return std::nullopt;
    return std::string(kResources) + "/" + name + "." + type;
  }
  std::string homeDirectory() override { return kHome; }
  std::uint32_t userId() override { return 501; }
  bool fileExists(const std::string& path) override { return existing.count(path) > 0; }
  FileError removeItem(const std::string& path) override { return record("remove " + path); }
  FileError createDirectory(const std::string& path) override { return record("mkdir " + path); }
  FileError copyItem(const std::string& from, const std::string& to) override { return record("copy " + from + " " + to); }
  FileError readTextFile(const std::string& path, std::string& text) override {
    text = templateText;
    return record("read " + path);
  }
  FileError writeTextFileAtomically(const std::string& path, const std::string& text) override {
    const FileError error = record("write " + path);
    if (!error) written[path] = text;
    return error;
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    std::string line = "run " + executable;
    for (const std::string& argument : arguments) line += " | " + argument;
    events.push_back(line);
    const auto status = statusBySubcommand.find(arguments.empty() ? "" : arguments[0]);
    return status == statusBySubcommand.end() ? 1 : status->second;
  }
  void sleepFor(double seconds) override { events.push_back("sleep " + std::to_string(seconds)); }

 private:
  FileError record(const std::string& event) {
    events.push_back(event);
    const auto failure = failures.find(event);
    if (failure == failures.end()) return std::nullopt;
    return failure->second;
  }
};

class InstallerAppTest : public ::testing::Test {
 protected:
  void run(AgentSystem system = AgentSystem::Launchd) { InstallerApp(platform, system).applicationDidFinishLaunching(); }
  void install(AgentSystem system = AgentSystem::Launchd) {
    platform.answers = {kAlertFirstButtonReturn};
    run(system);
  }
  const Alert& lastAlert() const { return platform.alerts.back(); }

  RecordingPlatform platform;
};

std::vector<std::string> titles(const Alert& alert) {
  std::vector<std::string> out;
  for (const AlertButton& button : alert.buttons) out.push_back(button.title + (button.enabled ? "" : " (off)"));
  return out;
}

TEST_F(InstallerAppTest, FirstInstallRunsEveryStepInOrderAndIgnoresWhatIsNotThere) {
  platform.statusBySubcommand = {{"bootstrap", 0}};
  platform.failures = {{std::string("remove ") + kPlist, "gone"}, {std::string("remove ") + kBundle, "gone"}};
  install();

  const std::string bundleSource = std::string(kResources) + "/PelagrinHelper.app";
  const std::vector<std::string> expected = {
      "run /bin/launchctl | bootout | gui/501/app.pelagrin.helper.plist",
      std::string("run /bin/launchctl | unload | ") + kPlist,
      "run /usr/bin/killall | PelagrinHelper",
      std::string("remove ") + kPlist,
      "sleep 1.500000",
      std::string("mkdir ") + kInstallDir,
      std::string("remove ") + kBundle,
      std::string("remove ") + kInstallDir + "/PelagrinHelper",
      "copy " + bundleSource + " " + kBundle,
      std::string("read ") + kResources + "/app.pelagrin.helper.plist",
      "mkdir /Users/Tom & Jerry/Library/LaunchAgents",
      std::string("write ") + kPlist,
      std::string("run /bin/launchctl | bootstrap | gui/501 | ") + kPlist};
  EXPECT_EQ(platform.events, expected);
  EXPECT_EQ(platform.written[kPlist],
            "<string>/Users/Tom &amp; Jerry/Library/Application Support/Pelagrin/PelagrinHelper.app</string>");
  ASSERT_EQ(platform.alerts.size(), 2u);
  EXPECT_EQ(lastAlert().title, "Success");
  EXPECT_EQ(lastAlert().style, AlertStyle::Informational);
  EXPECT_TRUE(lastAlert().buttons.empty());
  EXPECT_EQ(lastAlert().informativeText,
            "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real "
            "CPU temperature and GPU utilization.");
}

TEST_F(InstallerAppTest, LoadRunsOnlyAfterAFailedBootstrapAndDecidesTheOutcome) {
  struct Case {
    int bootstrap;
    int load;
    bool loadRuns;
    std::string text;
  };
  const std::string failed = "Helper installed but failed to start (launchctl error ";
  for (const Case& c : {Case{0, 1, false, "Sensor Helper installed and running!"},
                        Case{3, 0, true, "Sensor Helper installed and running!"},
                        Case{5, 1, true, failed + "1).\n\nTry logging out and back in."},
                        Case{5, -2, true, failed + "-2).\n\nTry logging out and back in."}}) {
    platform = RecordingPlatform();
    platform.statusBySubcommand = {{"bootstrap", c.bootstrap}, {"load", c.load}};
    install();
    EXPECT_EQ(platform.events.back() == std::string("run /bin/launchctl | load | ") + kPlist, c.loadRuns);
    EXPECT_EQ(lastAlert().informativeText.rfind(c.text, 0), 0u) << lastAlert().informativeText;
    EXPECT_EQ(lastAlert().title, c.loadRuns && c.load != 0 ? "Installation Failed" : "Success");
  }
}

TEST_F(InstallerAppTest, EachFailingStepShowsOneErrorAndStops) {
  const std::string read = std::string("read ") + kResources + "/app.pelagrin.helper.plist";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("mkdir ") + kInstallDir, "Failed to create directory:\nno room"},
      {"copy " + std::string(kResources) + "/PelagrinHelper.app " + kBundle, "Failed to copy helper app:\nno room"},
      {read, "Failed to install LaunchAgent:\nno room"},
      {"mkdir /Users/Tom & Jerry/Library/LaunchAgents", "Failed to install LaunchAgent:\nno room"},
      {std::string("write ") + kPlist, "Failed to install LaunchAgent:\nno room"}};
  for (const auto& [failingEvent, text] : cases) {
    platform = RecordingPlatform();
    platform.failures = {{failingEvent, "no room"}};
    install();
    EXPECT_EQ(platform.events.back(), failingEvent);
    ASSERT_EQ(platform.alerts.size(), 2u);
    EXPECT_EQ(lastAlert().title, "Installation Failed");
    EXPECT_EQ(lastAlert().style, AlertStyle::Critical);
    EXPECT_EQ(lastAlert().informativeText, text);
  }
}

TEST_F(InstallerAppTest, MissingResourcesStopBeforeAnythingChanges) {
  platform.missingResources = {"app", "plist"};
  install();
  EXPECT_TRUE(platform.events.empty());
  EXPECT_EQ(lastAlert().informativeText, "Could not find the embedded helper app in Resources.");

  platform = RecordingPlatform();
  platform.missingResources = {"plist"};
  install();
  EXPECT_TRUE(platform.events.empty());
  EXPECT_EQ(lastAlert().informativeText, "Could not find the embedded LaunchAgent plist.");
  EXPECT_EQ(platform.alerts.size(), 2u);
}

TEST_F(InstallerAppTest, PromptOffersWhatFitsTheInstalledState) {
  const std::string binary = std::string(kInstallDir) + "/PelagrinHelper";
  const std::vector<std::pair<std::set<std::string>, std::vector<std::string>>> cases = {
      {{}, {"Install", "Uninstall (off)", "Cancel"}},
      {{kPlist}, {"Install", "Uninstall (off)", "Cancel"}},
      {{kInstallDir}, {"Install", "Uninstall (off)", "Cancel"}},
      {{kBundle}, {"Reinstall", "Uninstall", "Cancel"}},
      {{binary}, {"Reinstall", "Uninstall", "Cancel"}}};
  for (const auto& [existing, buttons] : cases) {
    platform = RecordingPlatform();
    platform.existing = existing;
    platform.answers = {1002};
    run();
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(titles(platform.alerts[0]), buttons);
    EXPECT_TRUE(platform.events.empty());
  }
  const Alert& prompt = platform.alerts[0];
  EXPECT_EQ(prompt.title, "Pelagrin Sensor Helper");
  EXPECT_EQ(prompt.style, AlertStyle::Informational);
  EXPECT_EQ(prompt.informativeText,
            "This helper runs quietly in the background and provides real CPU temperature and GPU utilization to "
            "Pelagrin.\n\n\xE2\x80\xA2 Starts automatically at login\n\xE2\x80\xA2 Uses minimal resources\n"
            "\xE2\x80\xA2 Communicates only with Pelagrin via localhost");
}

TEST_F(InstallerAppTest, CancelledUninstallTouchesNothing) {
  platform.existing = {kBundle};
  platform.answers = {kAlertSecondButtonReturn, kAlertSecondButtonReturn};
  run();
  EXPECT_TRUE(platform.events.empty());
  ASSERT_EQ(platform.alerts.size(), 2u);
  EXPECT_EQ(platform.alerts[1].title, "Uninstall Sensor Helper?");
  EXPECT_EQ(platform.alerts[1].informativeText,
            "This will stop the helper and remove it from your system. Pelagrin will fall back to network and thermal "
            "state gauges.");
  EXPECT_EQ(platform.alerts[1].style, AlertStyle::Warning);
  EXPECT_EQ(titles(platform.alerts[1]), (std::vector<std::string>{"Uninstall", "Cancel"}));
}

TEST_F(InstallerAppTest, ConfirmedUninstallIsBestEffortAndAlwaysSucceeds) {
  platform.existing = {kBundle};
  platform.answers = {kAlertSecondButtonReturn, kAlertFirstButtonReturn};
  platform.failures = {{std::string("remove ") + kPlist, "busy"}, {std::string("remove ") + kBundle, "busy"}};
  run();
  const std::vector<std::string> expected = {"run /bin/launchctl | bootout | gui/501/app.pelagrin.helper.plist",
                                             std::string("run /bin/launchctl | unload | ") + kPlist,
                                             "run /usr/bin/killall | PelagrinHelper",
                                             std::string("remove ") + kPlist,
                                             std::string("remove ") + kBundle,
                                             std::string("remove ") + kInstallDir + "/PelagrinHelper",
                                             std::string("remove ") + kInstallDir};
  EXPECT_EQ(platform.events, expected);
  EXPECT_EQ(lastAlert().title, "Success");
  EXPECT_EQ(lastAlert().informativeText,
            "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.");
}

TEST_F(InstallerAppTest, XdgAutostartUsesItsOwnPathsCommandsAndStartFailureText) {
  platform.statusBySubcommand = {{"-f", 4}};
  install(AgentSystem::XdgAutostart);
  const std::string home = kHome;
  const std::string bundle = home + "/.local/share/Pelagrin/PelagrinHelper.app";
  EXPECT_EQ(platform.events.front(), "run /usr/bin/killall | PelagrinHelper");
  EXPECT_EQ(platform.events.back(), "run /usr/bin/setsid | -f | " + bundle + "/Contents/MacOS/PelagrinHelper");
  EXPECT_EQ(platform.written.count(home + "/.config/autostart/app.pelagrin.helper.desktop"), 1u);
  EXPECT_NE(std::find(platform.events.begin(), platform.events.end(),
                      std::string("read ") + kResources + "/app.pelagrin.helper.desktop"),
            platform.events.end());
  EXPECT_EQ(lastAlert().informativeText, "Helper installed but failed to start (error 4).\n\nTry logging out and back in.");
}

}  // namespace
