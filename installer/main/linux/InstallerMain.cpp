#include <cstdlib>
#include <cstring>
#include <iostream>

#include "HelperInstaller.h"
#include "LinuxInstallerPlatform.h"

namespace {

constexpr const char* kUsage = R"(Usage: HelperInstaller [--help]

Installs, reinstalls or uninstalls PelagrinHelper, the sensor helper of the
Pelagrin app, for you. It asks once in the terminal what to do, then says
what happened.

Answer with a button's number or its title, then Enter; where a message has a
lone button, Enter alone closes it. Answers can be piped in, and a number
picks a button whatever its title reads:
  printf '1\n\n' | HelperInstaller      installs, or reinstalls over an installed helper
  printf '2\n1\n\n' | HelperInstaller   uninstalls: Uninstall, then its confirmation

Exit status:
  0  the chosen action succeeded
  1  it failed, and an error message said why
  2  nothing was chosen (Cancel, or the end of input)

It runs /usr/bin/pkill and /usr/bin/pgrep (procps) and /usr/bin/setsid
(util-linux).
)";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    (help ? std::cout : std::cerr) << kUsage;
    return help ? 0 : static_cast<int>(Outcome::NothingChosen);
  }
  const std::string home = resolveHomeDirectory(std::getenv("HOME"));
  if (home.empty()) {
    // Installing relative to "/" would scatter files outside any account.
    std::cerr << "HelperInstaller: cannot find your home folder (HOME is not an absolute path and the user "
                 "database has no entry for you).\n";
    return static_cast<int>(Outcome::Failed);
  }
  LinuxInstallerPlatform platform(resourcesBesideExecutable(), home, std::cin, std::cout);
  InstallerApp delegate(platform, AgentSystem::XdgAutostart);
  return static_cast<int>(delegate.applicationDidFinishLaunching());
}
