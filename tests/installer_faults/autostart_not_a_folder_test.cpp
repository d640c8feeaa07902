#include <gtest/gtest.h>

#include "InstallerSandbox.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUserText = "the user's own notes, not ours to touch";

// What the home folder holds besides the installation (~/.local).
std::map<std::string, std::string> homeBesideInstallation(const InstallerSandbox& sandbox) {
  auto listing = treeListing(sandbox.home);
  std::erase_if(listing, [](const auto& entry) { return entry.first.starts_with(".local"); });
  return listing;
}

// Install and then uninstall with a file where a folder of the autostart path
// belongs: the install fails with the platform's reason, the uninstall still
// succeeds, and the rest of the home, that file included, is left as it was.
void expectFileInTheWaySurvives(InstallerSandbox& sandbox, const fs::path& fileInTheWay) {
  writeFile(fileInTheWay, kUserText);
  const auto before = homeBesideInstallation(sandbox);

  const Alert installed = sandbox.install();
  EXPECT_EQ(installed.title, "Installation Failed");
  EXPECT_EQ(installed.informativeText, "Failed to install LaunchAgent:\nCannot create the folder \"" +
                                           sandbox.autostartDir.string() + "\": Not a directory.");
  EXPECT_TRUE(fs::exists(sandbox.bundlePath / "Contents/MacOS/PelagrinHelper"));
  EXPECT_EQ(homeBesideInstallation(sandbox), before);

  const Alert uninstalled = sandbox.uninstall();
  EXPECT_EQ(uninstalled.title, "Success");
  EXPECT_EQ(uninstalled.informativeText,
            "Sensor Helper uninstalled.\n\nPelagrin will continue to work with network and thermal state gauges.");
  EXPECT_FALSE(fs::exists(sandbox.installDir));
  EXPECT_EQ(homeBesideInstallation(sandbox), before);
  EXPECT_EQ(readFile(fileInTheWay), kUserText);
}

TEST(AutostartFolderIsAFile, InstallFailsUninstallSucceedsAndTheFileIsKept) {
  InstallerSandbox sandbox;
  expectFileInTheWaySurvives(sandbox, sandbox.autostartDir);
}

TEST(AutostartFolderIsAFile, SoIsItsParent) {
  InstallerSandbox sandbox;
  expectFileInTheWaySurvives(sandbox, sandbox.autostartDir.parent_path());
}

}  // namespace
