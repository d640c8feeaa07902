#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "HelperInstaller.h"
#include "InstallerOptions.h"
#include "LinuxInstallerPlatform.h"

namespace {

constexpr const char* kLinuxNote = R"(
It runs /usr/bin/pkill and /usr/bin/pgrep (procps) and /usr/bin/setsid
(util-linux).
)";

}  // namespace

int main(int argc, char** argv) {
  const InstallerOptions options = parseInstallerOptions(argc, argv);
  if (options.kind == InstallerOptions::Kind::Help || options.kind == InstallerOptions::Kind::Misuse) {
    const bool help = options.kind == InstallerOptions::Kind::Help;
    (help ? std::cout : std::cerr) << kInstallerUsage << kLinuxNote;
    return help ? 0 : static_cast<int>(Outcome::NothingChosen);
  }
  const std::string home = resolveHomeDirectory(std::getenv("HOME"));
  if (home.empty()) {
    // Installing relative to "/" would scatter files outside any account.
    std::cerr << "HelperInstaller: cannot find your home folder (HOME is not an absolute path and the user "
                 "database has no entry for you).\n";
    return static_cast<int>(Outcome::Failed);
  }
  const bool prompts = options.kind == InstallerOptions::Kind::Prompt;
  const AnswerSource answers = !prompts               ? AnswerSource::None
                               : isatty(STDIN_FILENO) ? AnswerSource::Terminal
                                                      : AnswerSource::Pipe;
  LinuxInstallerPlatform platform(resourcesBesideExecutable(), home, answers, std::cin, std::cout);
  InstallerApp delegate(platform);
  return static_cast<int>(prompts ? delegate.applicationDidFinishLaunching() : delegate.perform(options.action));
}
