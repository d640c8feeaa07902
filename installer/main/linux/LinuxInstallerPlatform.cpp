#include "LinuxInstallerPlatform.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "FileErrorText.h"
#include "runShell.h"

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string homeFromUserDatabase() {
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

}  // namespace

LinuxInstallerPlatform::LinuxInstallerPlatform(std::string resourcesDir, std::string homeDir, AnswerSource answers,
                                               std::istream& in, std::ostream& out)
    : resourcesDir_(std::move(resourcesDir)), homeDir_(std::move(homeDir)), answers_(answers), in_(in), out_(out) {}

int LinuxInstallerPlatform::runModal(const Alert& alert) { return runTerminalAlert(alert, answers_, in_, out_); }

std::optional<std::string> LinuxInstallerPlatform::pathForResource(const std::string& name, const std::string& type) {
  if (resourcesDir_.empty()) return std::nullopt;
  std::string path = resourcesDir_ + "/" + name + "." + type;
  if (!fileExists(path)) return std::nullopt;
  return path;
}

std::string LinuxInstallerPlatform::homeDirectory() { return homeDir_; }

// Links inside the bundle stay links, as a bundle copy on macOS keeps them.
FileError LinuxInstallerPlatform::copyItem(const std::string& from, const std::string& to) {
  std::error_code error;
  struct stat existing {};
  if (lstat(to.c_str(), &existing) == 0) error = std::make_error_code(std::errc::file_exists);
  if (!error) fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
  if (error) return describeFileError("copy \"" + from + "\" to", to, error.message());
  return std::nullopt;
}

// Linux marks no download, so a copy carries no mark to take off.
FileError LinuxInstallerPlatform::removeDownloadMark(const std::string&) { return std::nullopt; }

// The helper would otherwise keep the terminal or pipe it was installed from
// (a piped install would never end) and the folder (a disk could not be
// unmounted). Its log goes to the system log; setsid gives it its own session.
int LinuxInstallerPlatform::runDetached(const std::string& executable, const std::vector<std::string>& arguments) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawn_file_actions_addchdir_np(&actions, "/");
  const int status = spawnAndWait(executable, arguments, &actions, nullptr);
  posix_spawn_file_actions_destroy(&actions);
  return status;
}

std::string resourcesBesideExecutable() {
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) return "";
  return (executable.parent_path().parent_path() / "Resources").string();
}

std::string resolveHomeDirectory(const char* environmentHome) {
  if (environmentHome != nullptr && environmentHome[0] == '/') return withoutTrailingSlashes(environmentHome);
  return withoutTrailingSlashes(homeFromUserDatabase());
}
