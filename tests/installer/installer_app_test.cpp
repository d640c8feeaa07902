#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

#include "HelperInstaller.h"

namespace {

const std::string kHome = "/Users/Tom & Jerry";
const std::string kPlist = kHome + "/Library/LaunchAgents/app.pelagrin.helper.plist";
const std::string kInstallDir = kHome + "/Library/Application Support/Pelagrin";
const std::string kBundle = kInstallDir + "/PelagrinHelper.app";
const std::string kResources = "/Apps/HelperInstaller.app/Contents/Resources";
const std::string kInstalledText =
    "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real CPU "
    "temperature and GPU utilization.";

// Answers from a script and writes down every request, in order, one line each.
class RecordingPlatform : public Platform {
 public:
  std::deque<int> answers;
  std::map<std::string, int> statusBySubcommand;  // by first argument; 1 when not listed
  std::set<std::string> existing, missingResourceTypes;
  std::map<std::string, std::string> failures;  // event -> error description
  std::vector<Alert> alerts;
  std::vector<std::string> events;
  std::string written;
  std::string home = kHome;

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
  FileError removeItem(const std::string& path) override { return record("remove " + path); }
  FileError createDirectory(const std::string& path) override { return record("mkdir " + path); }
  FileError copyItem(const std::string& from, const std::string& to) override {
    return record("copy " + from + " " + to);
  }
  FileError readTextFile(const std::string& path, std::string& text) override {
    text = "<string>__INSTALL_PATH__</string>";
    return record("read " + path);
  }
  FileError writeTextFileAtomically(const std::string& path, const std::string& text) override {
    written = text;
    return record("write " + path);
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    events.push_back("run " + executable);
    for (const std::string& argument : arguments) events.back() += " | " + argument;
    const auto status = statusBySubcommand.find(arguments.at(0));
    return status == statusBySubcommand.end() ? 1 : status->second;
  }
  void sleepFor(double seconds) override { events.push_back("sleep " + std::to_string(seconds)); }

 private:
  FileError record(const std::string& event) {
    events.push_back(event);
    return failures.count(event) ? FileError(failures[event]) : std::nullopt;
  }
};

std::vector<std::string> buttonTitles(const Alert& alert) {
  std::vector<std::string> titles;
  for (const AlertButton& button : alert.buttons) titles.push_back(button.title + (button.enabled ? "" : " (off)"));
  return titles;
}

class InstallerAppTest : public ::testing::Test {
 protected:
  void run(std::deque<int> answers) {
    platform.answers = std::move(answers);
    InstallerApp(platform, AgentSystem::Launchd).applicationDidFinishLaunching();
  }
  const Alert& lastAlert() const { return platform.alerts.back(); }

  RecordingPlatform platform;
};

TEST_F(InstallerAppTest, FirstInstallRunsEveryStepInOrderAndIgnoresWhatIsNotThere) {
  platform.statusBySubcommand = {{"bootstrap", 0}};
  platform.failures = {{"remove " + kPlist, "gone"}, {"remove " + kBundle, "gone"}};
  run({kAlertFirstButtonReturn});

  EXPECT_EQ(platform.events, (std::vector<std::string>{
                                 "run /bin/launchctl | bootout | gui/501/app.pelagrin.helper.plist",
                                 "run /bin/launchctl | unload | " + kPlist,
                                 "run /usr/bin/killall | PelagrinHelper",
                                 "remove " + kPlist,
                                 "sleep 1.500000",
                                 "mkdir " + kInstallDir,
                                 "remove " + kBundle,
                                 "remove " + kInstallDir + "/PelagrinHelper",
                                 "copy " + kResources + "/PelagrinHelper.app " + kBundle,
                                 "read " + kResources + "/app.pelagrin.helper.plist",
                                 "mkdir " + kHome + "/Library/LaunchAgents",
                                 "write " + kPlist,
                                 "run /bin/launchctl | bootstrap | gui/501 | " + kPlist}));
  EXPECT_EQ(platform.written, "<string>/Users/Tom &amp; Jerry/Library/Application Support/Pelagrin</string>");
  ASSERT_EQ(platform.alerts.size(), 2u);
  EXPECT_EQ(lastAlert().title, "Success");
  EXPECT_EQ(lastAlert().style, AlertStyle::Informational);
  EXPECT_TRUE(lastAlert().buttons.empty());
  EXPECT_EQ(lastAlert().informativeText, kInstalledText);
}

// A bootstrap that succeeds is never followed by load: see the first install.
TEST_F(InstallerAppTest, LoadFollowsAFailedBootstrapAndDecidesTheOutcome) {
  const std::string failed = "Helper installed but failed to start (launchctl error ";
  const std::string advice = ").\n\nTry logging out and back in.";
  struct Case { int bootstrap, load; std::string text; };
  for (const Case& c :
       {Case{3, 0, kInstalledText}, Case{5, 1, failed + "1" + advice}, Case{5, -2, failed + "-2" + advice}}) {
    platform = RecordingPlatform();
    platform.statusBySubcommand = {{"bootstrap", c.bootstrap}, {"load", c.load}};
    run({kAlertFirstButtonReturn});
    EXPECT_EQ(platform.events.back(), "run /bin/launchctl | load | " + kPlist);
    EXPECT_EQ(lastAlert().informativeText, c.text);
    EXPECT_EQ(lastAlert().title, c.text == kInstalledText ? "Success" : "Installation Failed");
  }
}

TEST_F(InstallerAppTest, EachFailureShowsOneErrorAndStops) {
  const std::string agentLead = "Failed to install LaunchAgent:\nno room";
  struct Case { std::set<std::string> missingTypes; std::string failingEvent, text; };
  for (const Case& c : {
           Case{{"app", "plist"}, "", "Could not find the embedded helper app in Resources."},
           Case{{"plist"}, "", "Could not find the embedded LaunchAgent plist."},
           Case{{}, "mkdir " + kInstallDir, "Failed to create directory:\nno room"},
           Case{{}, "copy " + kResources + "/PelagrinHelper.app " + kBundle, "Failed to copy helper app:\nno room"},
           Case{{}, "read " + kResources + "/app.pelagrin.helper.plist", agentLead},
           Case{{}, "mkdir " + kHome + "/Library/LaunchAgents", agentLead},
           Case{{}, "write " + kPlist, agentLead}}) {
    platform = RecordingPlatform();
    platform.missingResourceTypes = c.missingTypes;
    platform.failures = {{c.failingEvent, "no room"}};
    run({kAlertFirstButtonReturn});
    EXPECT_EQ(platform.events.empty() ? "" : platform.events.back(), c.failingEvent);
    ASSERT_EQ(platform.alerts.size(), 2u);
    EXPECT_EQ(lastAlert().title, "Installation Failed");
    EXPECT_EQ(lastAlert().style, AlertStyle::Critical);
    EXPECT_EQ(lastAlert().informativeText, c.text);
  }
}

// The helper is in place by then; only the agent file, which would be
// malformed, is not written, and its folder is not made.
TEST_F(InstallerAppTest, AHomeNoPropertyListCanHoldStopsAtTheAgentFile) {
  platform.home = "/Users/bell\x07";
  run({kAlertFirstButtonReturn});
  EXPECT_EQ(platform.events.back(), "read " + kResources + "/app.pelagrin.helper.plist");
  EXPECT_EQ(lastAlert().informativeText,
            "Failed to install LaunchAgent:\nThe install folder's path holds a character that a property list cannot "
            "hold.");
}

TEST_F(InstallerAppTest, PromptOffersWhatFitsTheInstalledStateAndCancelDoesNothing) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {"Install", "Uninstall (off)", "Cancel"}},
      {kPlist, {"Install", "Uninstall (off)", "Cancel"}},
      {kBundle, {"Reinstall", "Uninstall", "Cancel"}},
      {kInstallDir + "/PelagrinHelper", {"Reinstall", "Uninstall", "Cancel"}}};
  for (const auto& [existing, titles] : cases) {
    platform = RecordingPlatform();
    platform.existing = {existing};
    run({1002});
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(buttonTitles(platform.alerts[0]), titles);
    EXPECT_TRUE(platform.events.empty());
  }
  EXPECT_EQ(lastAlert().title, "Pelagrin Sensor Helper");
  EXPECT_EQ(lastAlert().style, AlertStyle::Informational);
  EXPECT_EQ(lastAlert().informativeText,
            "This helper runs quietly in the background and provides real CPU temperature and GPU utilization to "
            "Pelagrin.\n\n\xE2\x80\xA2 Starts automatically at login\n\xE2\x80\xA2 Uses minimal resources\n"
            "\xE2\x80\xA2 Communicates only with Pelagrin via localhost");
}

TEST_F(InstallerAppTest, UninstallAsksFirstThenIsBestEffortAndAlwaysSucceeds) {
  platform.existing = {kBundle};
  run({kAlertSecondButtonReturn, kAlertSecondButtonReturn});
  EXPECT_TRUE(platform.events.empty());
  ASSERT_EQ(platform.alerts.size(), 2u);
  EXPECT_EQ(lastAlert().title, "Uninstall Sensor Helper?");
  EXPECT_EQ(lastAlert().informativeText,
            "This will stop the helper and remove it from your system. Pelagrin will fall back to network and thermal "
            "state gauges.");
  EXPECT_EQ(lastAlert().style, AlertStyle::Warning);
  EXPECT_EQ(buttonTitles(lastAlert()), (std::vector<std::string>{"Uninstall", "Cancel"}));

  platform.failures = {{"remove " + kPlist, "busy"}, {"remove " + kBundle, "busy"}};
  run({kAlertSecondButtonReturn, kAlertFirstButtonReturn});
  EXPECT_EQ(platform.events, (std::vector<std::string>{
                                 "run /bin/launchctl | bootout | gui/501/app.pelagrin.helper.plist",
                                 "run /bin/launchctl | unload | " + kPlist, "run /usr/bin/killall | PelagrinHelper",
                                 "remove " + kPlist, "remove " + kBundle, "remove " + kInstallDir + "/PelagrinHelper",
                                 "remove " + kInstallDir}));
  EXPECT_EQ(lastAlert().title, "Success");
  EXPECT_EQ(lastAlert().informativeText,
            "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.");
}

}  // namespace
