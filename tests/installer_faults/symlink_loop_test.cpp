#include <gtest/gtest.h>

#include "Deadline.h"
#include "InstallerSandbox.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kInstalledText =
    "Sensor Helper installed and running!\n\nPelagrin will detect it within a few seconds and switch to real CPU "
    "temperature and GPU utilization.";

// Links that lead in circles: two naming each other, one naming itself, a
// folder link back up to the bundle, and one out of the bundle to the home.
void addLinkLoops(const fs::path& bundle, const fs::path& home) {
  fs::create_symlink("b", bundle / "Contents/a");
  fs::create_symlink("a", bundle / "Contents/b");
  fs::create_symlink("self", bundle / "Contents/self");
  fs::create_directory_symlink("../..", bundle / "Contents/MacOS/up");
  fs::create_directory_symlink(home, bundle / "Contents/home");
}

TEST(BundleWithSymlinkLoops, IsCopiedWithItsLinksAsLinksAndRemovedWithoutFollowingThem) {
  // A copy or removal that followed the loops would never end.
  const Deadline deadline(60);
  InstallerSandbox sandbox;
  addLinkLoops(sandbox.helperBundle, sandbox.home);
  writeFile(sandbox.home / "Documents/keep.txt", "kept");
  const auto shipped = treeListing(sandbox.helperBundle);

  for (const char* run : {"install", "reinstall"}) {
    SCOPED_TRACE(run);
    const Alert result = sandbox.install();
    EXPECT_EQ(result.title, "Success");
    EXPECT_EQ(result.informativeText, kInstalledText);
    EXPECT_EQ(treeListing(sandbox.bundlePath), shipped);
    EXPECT_EQ(sandbox.autostartEntries(), std::vector<std::string>{"app.pelagrin.helper.desktop"});
  }

  EXPECT_EQ(sandbox.uninstall().title, "Success");
  EXPECT_FALSE(fs::exists(sandbox.installDir));
  EXPECT_EQ(readFile(sandbox.home / "Documents/keep.txt"), "kept");
  EXPECT_EQ(treeListing(sandbox.helperBundle), shipped);
}

TEST(BundleWithSymlinkLoops, BundleThatIsItselfALoopIsNotFoundAndNothingChanges) {
  const Deadline deadline(60);
  InstallerSandbox sandbox;
  fs::remove_all(sandbox.helperBundle);
  fs::create_symlink(sandbox.helperBundle.filename(), sandbox.helperBundle);

  const Alert result = sandbox.install();
  EXPECT_EQ(result.title, "Installation Failed");
  EXPECT_EQ(result.informativeText, "Could not find the embedded helper app in Resources.");
  EXPECT_TRUE(sandbox.commands.empty());
  EXPECT_TRUE(fs::is_empty(sandbox.home));
}

}  // namespace
