// InstallerApp against a platform that answers from a script and writes down
// everything asked of it, one golden record a scenario; and runShell with
// real children.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "HelperInstaller.h"
#include "runShell.h"

namespace {

const std::string kHome = "/Users/Tom & Jerry";
const std::string kInstallDir = kHome + "/Library/Application Support/Pelagrin";
const std::string kBundle = kInstallDir + "/PelagrinHelper.app";
const std::string kProgram = kBundle + "/Contents/MacOS/PelagrinHelper";
const std::string kStaged = kInstallDir + "/.PelagrinHelper-new.app";
const std::string kBinary = kInstallDir + "/PelagrinHelper";
const std::string kPlist = kHome + "/Library/LaunchAgents/app.pelagrin.helper.plist";
const std::string kResources = "/Apps/HelperInstaller.app/Contents/Resources/";
// The launch prompt's buttons, then the uninstall confirmation's.
constexpr int kInstall = kAlertFirstButtonReturn, kUninstall = kAlertSecondButtonReturn, kCancel = kUninstall + 1;
constexpr int kConfirm = kAlertFirstButtonReturn, kDecline = kAlertSecondButtonReturn;
const char* const kStyleNames[] = {"warning", "informational", "critical"};
const std::string kLine = "{\"cpuTemp\":52.3,\"cpuTempAvg\":47.9,\"gpuTemp\":41.0,\"gpuUtil\":0.370}\n";

const PortHolder kOurHelper = {
    .kind = PortHolder::Kind::ThisUser, .uid = 501, .pid = 4242, .program = "PelagrinHelper", .reason = ""};

PortHolder otherUsers(std::optional<int> pid, std::optional<std::string> program) {
  return {.kind = PortHolder::Kind::OtherUser, .uid = 502, .pid = pid, .program = program, .reason = ""};
}

PortReply reply(const std::string& received, bool closedByPeer) {
  return {.connected = true, .received = received, .closedByPeer = closedByPeer};
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Unless a scenario says otherwise: a Mac with the helper installed, which
// stops when told to, starts at the first try and sends its line.
struct Scenario {
  std::string name;
  AgentSystem system = AgentSystem::Launchd;
  std::deque<int> answers = {kInstall};
  int stop = 1;       // each stop command's status: nothing to stop
  int bootstrap = 0;  // the first start command's status
  int load = 1;
  int codesign = 0;
  // pgrep's answers in turn: the earlier helper runs, then is gone, then the new one runs
  std::deque<int> helperRuns = {0, 1, 0};
  PortReply reply = {.connected = true, .received = kLine, .closedByPeer = false};
  PortHolder holder = kOurHelper;
  std::string failing = "";  // the one request that fails, with "refused"
  std::set<std::string> existing = {kProgram, kPlist};
  std::string plist = "<string>__INSTALL_PATH__</string>";
  std::string home = kHome;
  std::set<std::string> resources = {"PelagrinHelper.app", "app.pelagrin.helper.plist", "app.pelagrin.helper.desktop"};
  CodeSignature signer = {.identifier = "app.pelagrin.helper-installer", .teamId = ""};
  // Where set, launchctl is fixtures/installer/launchctl, the launchd model,
  // with these settings; otherwise it answers from the fields above.
  std::string launchd = "";
  std::optional<Action> option = std::nullopt;  // a command-line option's action, instead of the prompt
};

struct RecordingPlatform : Platform {
  Scenario scenario;
  std::ostringstream record;
  std::string modelState;  // the launchd model's folder
  double slept = 0;
  bool loaded = false;

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
    if (scenario.resources.count(name + "." + type) == 0) return std::nullopt;
    return kResources + name + "." + type;
  }
  std::string homeDirectory() override { return scenario.home; }
  std::uint32_t userId() override { return 501; }
  // A folder exists while anything is in it.
  bool fileExists(const std::string& path) override {
    return std::any_of(scenario.existing.begin(), scenario.existing.end(), [&](const std::string& existing) {
      return existing == path || existing.starts_with(path + "/");
    });
  }
  bool isGone(const std::string& path) override { return !fileExists(path); }
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
  FileError copyItem(const std::string& from, const std::string& to) override {
    return arrive(to + "/Contents/MacOS/PelagrinHelper", ask("copy " + from + " " + to));
  }
  FileError moveItem(const std::string& from, const std::string& to) override {
    const FileError error = ask("move " + from + " " + to);
    for (const std::string& moved : std::set<std::string>(scenario.existing)) {
      if (error || (moved != from && !moved.starts_with(from + "/"))) continue;
      scenario.existing.erase(moved);
      scenario.existing.insert(to + moved.substr(from.size()));
    }
    return error;
  }
  FileError readTextFile(const std::string& path, std::string& text) override {
    text = scenario.plist;
    return ask("read " + path);
  }
  FileError writeTextFileAtomically(const std::string& path, const std::string& text) override {
    return ask("write " + path + "\n" + text);
  }
  FileError removeDownloadMark(const std::string& path) override { return ask("unmark " + path); }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    std::string output;
    return runShellReading(executable, arguments, output);
  }
  int runShellReading(const std::string& executable, const std::vector<std::string>& arguments,
                      std::string& output) override {
    std::string command = "run " + executable;
    for (const std::string& argument : arguments) command += " " + argument;
    ask(command);
    if (executable == "/usr/bin/pgrep") return answerInTurn(scenario.helperRuns);
    if (executable == "/usr/bin/codesign") return scenario.codesign;
    if (!scenario.launchd.empty()) return askModel(arguments, output);
    if (arguments[0] == "bootstrap" || arguments[0] == "-f") return scenario.bootstrap;
    if (arguments[0] == "load") {
      loaded = scenario.load == 0;
      return scenario.load;
    }
    if (arguments[0] == "print") return loaded ? 0 : 113;
    return arguments[0] == "print-disabled" ? 0 : scenario.stop;
  }
  CodeSignature ownSignature() override { return scenario.signer; }
  AgentSystem agentSystem() const override { return scenario.system; }
  void sleepFor(double seconds) override {
    slept += seconds;
    ask("sleep");
  }
  int runDetached(const std::string& executable, const std::vector<std::string>& arguments) override {
    record << "detached: ";
    return runShell(executable, arguments);
  }
  PortHolder whoListens(std::uint16_t port) override {
    ask("who holds 127.0.0.1:" + std::to_string(port));
    return scenario.holder;
  }
  PortReply readLoopbackLine(std::uint16_t port, double, std::size_t) override {
    ask("read 127.0.0.1:" + std::to_string(port));
    return scenario.reply;
  }

  int askModel(const std::vector<std::string>& arguments, std::string& output) {
    std::vector<std::string> model = {PELAGRIN_FIXTURES "/installer/launchctl", modelState,
                                      std::to_string(std::lround(slept * 1000))};
    model.insert(model.end(), arguments.begin(), arguments.end());
    return ::runShellReading("/bin/sh", model, output);
  }

  static int answerInTurn(std::deque<int>& answers) {
    const int answer = answers.empty() ? 1 : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }

  FileError ask(const std::string& request) {
    record << request << "\n";
    if (request == scenario.failing) return "refused";
    return std::nullopt;
  }
  FileError forget(const std::string& path, FileError error) {
    if (!error)
      std::erase_if(scenario.existing,
                    [&](const std::string& existing) { return existing == path || existing.starts_with(path + "/"); });
    return error;
  }
  FileError arrive(const std::string& path, FileError error) {
    if (!error) scenario.existing.insert(path);
    return error;
  }
};

TEST(InstallerApp, EveryScenarioAsksAndShowsWhatItsRecordSays) {
  const std::string shipped = readFile(INSTALLER_RESOURCES "/app.pelagrin.helper.plist");
  const std::string finderMetadata = kInstallDir + "/.DS_Store";
  const std::deque<int> confirmed = {kUninstall, kConfirm};
  const std::deque<int> neverStops = {0, 0, 0, 0, 0, 0, 0, 0};
  const std::string linuxProgram = kHome + "/.local/share/Pelagrin/PelagrinHelper.app/Contents/MacOS/PelagrinHelper";
  const std::string installer = "app.pelagrin.helper-installer";
  const std::string noisy = "HTTP/1.1 400 \x1b]0;owned\x07 \"x\" \\ \xc3\xa9\r\n";
  const Scenario scenarios[] = {
      {.name = "prompt-nothing-installed",
       .answers = {kCancel},
       .existing = {kBundle + "/Contents/Info.plist", kPlist}},
      {.name = "install-bootstrap-starts-it"},
      {.name = "install-over-a-bare-helper-load-starts-it", .bootstrap = 3, .load = 0, .existing = {kBinary}},
      {.name = "install-neither-starts-it", .bootstrap = 5, .load = -2, .existing = {}},
      {.name = "install-folder-fails", .failing = "mkdir " + kInstallDir},
      {.name = "install-copy-fails", .failing = "copy " + kResources + "PelagrinHelper.app " + kStaged},
      {.name = "install-agent-folder-fails-earlier-runs-again", .failing = "mkdir " + kHome + "/Library/LaunchAgents"},
      {.name = "install-helper-missing", .resources = {"app.pelagrin.helper.plist"}},
      {.name = "install-both-missing", .resources = {}},
      {.name = "install-template-unreadable", .failing = "read " + kResources + "app.pelagrin.helper.plist"},
      {.name = "install-placeholders", .plist = "__INSTALL_PATH__ __INSTALL_PATH__/x __install_path__"},
      {.name = "install-shipped-template", .plist = shipped},
      {.name = "install-home-no-plist-can-hold", .plist = shipped, .home = "/Users/bell\x07"},
      {.name = "install-on-linux", .system = AgentSystem::XdgAutostart, .existing = {linuxProgram}},
      {.name = "install-stop-cannot-run", .stop = 127},
      {.name = "install-old-helper-stays", .helperRuns = neverStops},
      {.name = "install-pgrep-fails", .helperRuns = {2, 2}},
      {.name = "install-signature-broken", .codesign = 1},
      {.name = "install-unsigned-development-build", .codesign = 1, .signer = {}},
      {.name = "install-signed-with-a-developer-id", .signer = {.identifier = installer, .teamId = "A1B2C3D4E5"}},
      {.name = "install-mark-stays", .failing = "unmark " + kStaged},
      {.name = "install-helper-stops-at-once", .reply = {}, .existing = {}},
      {.name = "install-another-program-answers",
       .reply = reply(noisy, false),
       .holder = otherUsers(77, "nc\x1b"),
       .existing = {}},
      {.name = "install-a-line-not-the-helpers", .reply = reply(kLine.substr(0, 63) + "}\n", false), .existing = {}},
      {.name = "install-a-negative-figure",
       .reply = reply("{\"cpuTemp\":-0.0" + kLine.substr(15), false),
       .existing = {}},
      {.name = "install-helper-serves-four", .reply = reply("", true), .existing = {}},
      {.name = "install-silent-port", .reply = reply("", false), .existing = {}},
      {.name = "install-another-users-helper", .helperRuns = {1, 1, 1}, .holder = otherUsers(4243, "PelagrinHelper")},
      {.name = "install-a-closed-process-sends-the-line", .holder = otherUsers(std::nullopt, std::nullopt)},
      {.name = "install-this-users-program-sends-the-line",
       .holder = {.kind = PortHolder::Kind::ThisUser, .uid = 501, .pid = 77, .program = "python3", .reason = ""}},
      {.name = "install-holder-unknown", .holder = cannotTell("/proc/net/tcp line 2 is not a socket table row")},
      {.name = "launchd-turned-off-in-login-items", .launchd = "off=disabled"},
      {.name = "launchd-turned-off-before-macos-13", .launchd = "off=true"},
      {.name = "launchd-turned-off-unlisted-macos-26", .launchd = "off=unlisted refusal=119"},
      {.name = "launchd-turned-off-unlisted-load-says-0", .launchd = "off=unlisted"},
      {.name = "launchd-bootout-ends-later", .launchd = "linger=9000"},
      {.name = "uninstall-cancelled", .answers = {kUninstall, kDecline}},
      {.name = "uninstall", .answers = confirmed, .existing = {kBundle, kPlist, finderMetadata}},
      {.name = "uninstall-keeps-a-folder-others-use",
       .answers = confirmed,
       .failing = "rmdir " + kInstallDir,
       .existing = {kBundle, kInstallDir + "/notes.txt", finderMetadata}},
      {.name = "uninstall-agent-file-stays", .answers = confirmed, .failing = "remove " + kPlist},
      {.name = "uninstall-bundle-stays", .answers = confirmed, .failing = "remove " + kBundle},
      {.name = "uninstall-stop-cannot-run", .answers = confirmed, .stop = 127},
      {.name = "uninstall-helper-stays", .answers = confirmed, .helperRuns = neverStops},
      {.name = "uninstall-option", .option = Action::Uninstall},
      {.name = "uninstall-option-nothing-installed", .existing = {}, .option = Action::Uninstall},
  };
  for (const Scenario& scenario : scenarios) {
    RecordingPlatform platform;
    platform.scenario = scenario;
    char modelState[] = "/tmp/launchd-model-XXXXXX";
    platform.modelState = mkdtemp(modelState);
    std::ofstream(platform.modelState + "/settings") << scenario.launchd;
    InstallerApp app(platform);
    const Outcome outcome = scenario.option ? app.perform(*scenario.option) : app.applicationDidFinishLaunching();
    std::filesystem::remove_all(platform.modelState);
    platform.record << "exit " << static_cast<int>(outcome) << "\n";
    const std::string golden = PELAGRIN_FIXTURES "/installer/" + scenario.name + ".txt";
    if (std::getenv("PELAGRIN_BLESS")) std::ofstream(golden) << platform.record.str();
    EXPECT_EQ(platform.record.str(), readFile(golden)) << scenario.name;
  }
}

// Real children, started with the installer's standard input closed and its
// output and error text caught in a file: each status as the child ended,
// none of their output anywhere, and none of the installer's descriptors.
TEST(RunShell, ReturnsEachChildsStatusAndNothingElseOfIt) {
  struct Child {
    std::string executable;
    std::vector<std::string> arguments;
    int status;
  };
  const int canary = open("/dev/null", O_RDONLY);  // not closed on exec
  const Child children[] = {
      {.executable = "/bin/sh", .arguments = {"-c", "echo noise; echo noise >&2; exit 5"}, .status = 5},
      {.executable = "/bin/sh", .arguments = {"-c", "kill -KILL $$"}, .status = 9},
      {.executable = "/bin/cat", .arguments = {}, .status = 0},
      {.executable = "/bin/sh", .arguments = {"-c", "[ ! -e /dev/fd/" + std::to_string(canary) + " ]"}, .status = 0},
      {.executable = "/bin/sh",
       .arguments = {"-c", "[ \"$0\" = 'Application Support' ]", "Application Support"},
       .status = 0},
      {.executable = "/nonexistent/launchctl", .arguments = {}, .status = kCannotStartStatus},
  };
  FILE* output = std::tmpfile();
  const int savedInput = dup(STDIN_FILENO);
  const int savedOutput = dup(STDOUT_FILENO);
  const int savedError = dup(STDERR_FILENO);
  close(STDIN_FILENO);
  dup2(fileno(output), STDOUT_FILENO);
  dup2(fileno(output), STDERR_FILENO);
  std::vector<int> statuses;
  for (const Child& child : children) statuses.push_back(runShell(child.executable, child.arguments));
  dup2(savedInput, STDIN_FILENO);
  dup2(savedOutput, STDOUT_FILENO);
  dup2(savedError, STDERR_FILENO);
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    EXPECT_EQ(statuses[i], children[i].status) << children[i].executable << " " << children[i].arguments.back();
  }
  EXPECT_EQ(std::ftell(output), 0) << "a child's output reached the installer's";
}

}  // namespace
