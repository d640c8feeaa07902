#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "InstallerSandbox.h"
#include "PrivateMountNamespace.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNoNamespace =
    "this machine allows no private mount namespace (it needs root and CLONE_NEWNS); the file-size limit case "
    "of installer_linux_test still covers a failed write";

// One file written until the file system has no block left.
void takeEveryBlock(const fs::path& folder) {
  const int fd = open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const char block[1024] = {};
  while (fd >= 0 && write(fd, block, sizeof block) > 0) {
  }
  close(fd);
}

// Empty files created until the file system has no inode left.
void takeEveryInode(const fs::path& folder) {
  for (int n = 0;; ++n) {
    const fs::path filler = folder / ("filler-" + std::to_string(n));
    const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return;
    close(fd);
  }
}

struct FullDisk {
  const char* what;
  const char* mountOptions;
  void (*fill)(const fs::path&);
};

constexpr FullDisk kNoBlockLeft{"no block left", "size=4k", takeEveryBlock};
constexpr FullDisk kNoInodeLeft{"no inode left", "size=64k,nr_inodes=8", takeEveryInode};

// Mounts a small tmpfs over `folder` and fills it up. Returns an empty text,
// or why the tmpfs could not be mounted.
std::string mountFullTmpfs(const fs::path& folder, const FullDisk& disk) {
  fs::create_directories(folder);
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, disk.mountOptions) != 0) {
    return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
  }
  disk.fill(folder);
  return "";
}

std::string describe(const Alert& alert) { return alert.title + "\n" + alert.informativeText; }

// The result alert of an install whose agent file lands on a full disk,
// followed by a line for each entry the install left in that folder.
std::string installWithFullAutostartFolder(InstallerSandbox& sandbox, const FullDisk& disk) {
  if (std::string failure = mountFullTmpfs(sandbox.autostartDir, disk); !failure.empty()) return failure;
  const auto before = treeListing(sandbox.autostartDir);
  std::string report = describe(sandbox.install());
  for (const auto& [name, kind] : treeListing(sandbox.autostartDir)) {
    if (!before.contains(name)) report += "\nleft behind: " + name;
  }
  return report;
}

TEST(FullDisk, AgentFileThatFindsNoRoomIsReportedAndLeavesNothingBehind) {
  for (const FullDisk& disk : {kNoBlockLeft, kNoInodeLeft}) {
    SCOPED_TRACE(disk.what);
    InstallerSandbox sandbox;
    const auto report = inPrivateMountNamespace([&] { return installWithFullAutostartFolder(sandbox, disk); });
    if (!report) GTEST_SKIP() << kNoNamespace;

    EXPECT_EQ(*report, "Installation Failed\nFailed to install LaunchAgent:\nCannot write \"" +
                           sandbox.desktopFile.string() + "\": No space left on device.");
    // The helper was placed before the agent file failed, and stays.
    EXPECT_TRUE(fs::exists(sandbox.bundlePath / "Contents/MacOS/PelagrinHelper"));
  }
}

TEST(FullDisk, HelperCopyThatFindsNoRoomIsReportedAndWritesNoAgentFile) {
  InstallerSandbox sandbox;
  writeFile(sandbox.desktopFile, "an earlier agent file");
  const auto report = inPrivateMountNamespace([&] {
    const std::string failure = mountFullTmpfs(sandbox.installDir, kNoBlockLeft);
    return failure.empty() ? describe(sandbox.install()) : failure;
  });
  if (!report) GTEST_SKIP() << kNoNamespace;

  EXPECT_EQ(*report, "Installation Failed\nFailed to copy helper app:\nCannot copy \"" + sandbox.helperBundle.string() +
                         "\" to \"" + sandbox.bundlePath.string() + "\": No space left on device.");
  // No agent may point at a helper that was never completely copied.
  EXPECT_TRUE(fs::is_empty(sandbox.autostartDir));
}

}  // namespace
