#include <cstdlib>
#include <iostream>

#include "HelperInstaller.h"
#include "LinuxInstallerPlatform.h"

int main() {
  const std::string home = resolveHomeDirectory(std::getenv("HOME"));
  if (home.empty()) {
    // Installing relative to "/" would scatter files outside any account.
    std::cerr << "HelperInstaller: cannot find your home folder (HOME is not an absolute path and the user "
                 "database has no entry for you).\n";
    return 1;
  }
  LinuxInstallerPlatform platform(resourcesBesideExecutable(), home, std::cin, std::cout);
  InstallerApp delegate(platform, AgentSystem::XdgAutostart);
  delegate.applicationDidFinishLaunching();
  return 0;
}
