#include "InstallerSandbox.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "HelperInstaller.h"
#include "LinuxPlatform.h"

namespace fs = std::filesystem;

namespace {

// The real Linux platform with the dialogs answered from a script, the pause
// skipped and the commands handed to the sandbox.
class SandboxPlatform : public LinuxPlatform {
 public:
  SandboxPlatform(InstallerSandbox& sandbox, const std::vector<int>& choices)
      : LinuxPlatform(sandbox.resources.string(), sandbox.home.string(), std::cin, std::cout),
        sandbox_(sandbox),
        choices_(choices) {}

  int runModal(const Alert& alert) override {
    shown.push_back(alert);
    return shown.size() <= choices_.size() ? choices_[shown.size() - 1] : kAlertFirstButtonReturn;
  }
  int runShell(const std::string& executable, const std::vector<std::string>& arguments) override {
    std::string line = executable;
    for (const std::string& argument : arguments) line += " " + argument;
    sandbox_.commands.push_back(line);
    return sandbox_.runCommand ? sandbox_.runCommand(executable, arguments) : 0;
  }
  void sleepFor(double) override {}

  std::vector<Alert> shown;

 private:
  InstallerSandbox& sandbox_;
  const std::vector<int> choices_;
};

}  // namespace

InstallerSandbox::InstallerSandbox()
    : root(fs::path(::testing::TempDir()) / ("installer faults " + std::to_string(getpid()))),
      home(root / "Tom & Jerry"),
      resources(root / "HelperInstaller.app/Contents/Resources"),
      helperBundle(resources / "PelagrinHelper.app"),
      installDir(home / ".local/share/Pelagrin"),
      bundlePath(installDir / "PelagrinHelper.app"),
      autostartDir(home / ".config/autostart"),
      desktopFile(autostartDir / "app.pelagrin.helper.desktop") {
  fs::remove_all(root);
  const fs::path program = helperBundle / "Contents/MacOS/PelagrinHelper";
  writeFile(program, "#!/bin/sh\n");
  fs::permissions(program, fs::perms::owner_all);
  fs::copy_file(INSTALLER_TEMPLATE, resources / "app.pelagrin.helper.desktop");
  fs::create_directories(home);
}

InstallerSandbox::~InstallerSandbox() {
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

Alert InstallerSandbox::install() { return run({kAlertFirstButtonReturn}); }

Alert InstallerSandbox::uninstall() { return run({kAlertSecondButtonReturn, kAlertFirstButtonReturn}); }

std::vector<std::string> InstallerSandbox::autostartEntries() const {
  std::vector<std::string> names;
  std::error_code missing;
  for (const fs::directory_entry& entry : fs::directory_iterator(autostartDir, missing)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

Alert InstallerSandbox::run(const std::vector<int>& choices) {
  SandboxPlatform platform(*this, choices);
  InstallerApp(platform, AgentSystem::XdgAutostart).applicationDidFinishLaunching();
  return platform.shown.back();
}

std::map<std::string, std::string> treeListing(const fs::path& folder) {
  std::map<std::string, std::string> listing;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink()) {
      listing[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      listing[name] = "folder";
    } else {
      listing[name] = "file: " + readFile(entry.path());
    }
  }
  return listing;
}

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
