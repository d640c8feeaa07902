// The helper bundle's copy on this Mac's own file system: a downloaded bundle
// carries com.apple.quarantine, copyfile carries it onto the copy, and the
// installer takes it off every file of the copy, leaving the original as it
// was and the bundle's link a link; all through the Mac front's platform, as
// InstallerApp asks it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BundleCopy.h"

namespace {

constexpr const char* kQuarantine = "com.apple.quarantine";
constexpr char kMark[] = "0083;65f0a1b2;Safari;";

// The Mac front's files as InstallerApp sees them; the rest of it needs AppKit.
struct FilesOnly final : MacFilePlatform {
  int runModal(const Alert&) override { return kAlertDismissed; }
  std::optional<std::string> pathForResource(const std::string&, const std::string&) override { return {}; }
  std::string homeDirectory() override { return {}; }
  CodeSignature ownSignature() override { return {}; }
};

bool marked(const std::string& path) { return getxattr(path.c_str(), kQuarantine, nullptr, 0, 0, XATTR_NOFOLLOW) >= 0; }

TEST(BundleCopy, TheCopyOfADownloadedBundleCarriesNoDownloadMark) {
  char folder[] = "/tmp/bundle-copy-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string source = std::string(folder) + "/PelagrinHelper.app";
  const std::string copy = std::string(folder) + "/Copy.app";
  const std::vector<std::string> marks = {"", "/Contents", "/Contents/Info.plist", "/Contents/MacOS",
                                          "/Contents/MacOS/PelagrinHelper"};
  std::filesystem::create_directories(source + "/Contents/MacOS");
  std::ofstream(source + "/Contents/Info.plist") << "<plist/>\n";
  std::ofstream(source + "/Contents/MacOS/PelagrinHelper") << "#!/bin/sh\n";
  ASSERT_EQ(symlink("MacOS", (source + "/Contents/Current").c_str()), 0);
  for (const std::string& entry : marks) {
    ASSERT_EQ(setxattr((source + entry).c_str(), kQuarantine, kMark, sizeof kMark - 1, 0, XATTR_NOFOLLOW), 0);
  }

  FilesOnly files;
  Platform& platform = files;
  ASSERT_EQ(platform.copyItem(source, copy), std::nullopt);
  EXPECT_TRUE(marked(copy + "/Contents/MacOS/PelagrinHelper")) << "copyfile no longer carries the mark";
  ASSERT_EQ(platform.removeDownloadMark(copy), std::nullopt);
  for (const std::string& entry : marks) {
    EXPECT_FALSE(marked(copy + entry)) << "the copy keeps the mark: " << entry;
    EXPECT_TRUE(marked(source + entry)) << "the original lost its mark: " << entry;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(copy + "/Contents/Current"));
  std::filesystem::remove_all(folder);
}

}  // namespace
