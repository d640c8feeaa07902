#include "runShell.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// What the child gets: the installer's standard input where it is open, else
// /dev/null, its output and error text pointed at /dev/null, and no other
// descriptor of the installer's, so no file the installer has open lingers in
// launchctl or in a started helper.
class ChildDescriptors {
 public:
  ChildDescriptors() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
    const bool inputOpen = fcntl(STDIN_FILENO, F_GETFD) != -1;
    if (!inputOpen) posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
#if defined(POSIX_SPAWN_CLOEXEC_DEFAULT)  // Apple: every descriptor not named here is closed
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_CLOEXEC_DEFAULT);
    // Inheriting a closed descriptor would fail the whole spawn with EBADF.
    if (inputOpen) posix_spawn_file_actions_addinherit_np(&actions_, STDIN_FILENO);
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
#endif
  }
  ~ChildDescriptors() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  ChildDescriptors(const ChildDescriptors&) = delete;
  ChildDescriptors& operator=(const ChildDescriptors&) = delete;

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

int terminationStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  return WTERMSIG(waitStatus);
}

}  // namespace

int spawnAndWait(const std::string& executable, const std::vector<std::string>& arguments,
                 const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = -1;
  if (posix_spawn(&child, executable.c_str(), actions, attributes, argv.data(), environ) != 0) {
    return kCannotStartStatus;
  }
  int waitStatus = 0;
  while (waitpid(child, &waitStatus, 0) < 0) {
    if (errno != EINTR) return kCannotStartStatus;
  }
  return terminationStatus(waitStatus);
}

int runShell(const std::string& executable, const std::vector<std::string>& arguments) {
  const ChildDescriptors descriptors;
  return spawnAndWait(executable, arguments, descriptors.actions(), descriptors.attributes());
}
