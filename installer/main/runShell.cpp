#include "runShell.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// What the child gets: the installer's standard input where it is open, else
// /dev/null, its output at `output` or /dev/null, its error text at /dev/null,
// and no other descriptor of the installer's, so no file the installer has
// open lingers in launchctl or in a started helper.
class ChildDescriptors {
 public:
  explicit ChildDescriptors(int output) {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
    const bool inputOpen = fcntl(STDIN_FILENO, F_GETFD) != -1;
    if (!inputOpen) posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output < 0) posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (output >= 0) posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
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

pid_t spawn(const std::string& executable, const std::vector<std::string>& arguments,
            const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = -1;
  if (posix_spawn(&child, executable.c_str(), actions, attributes, argv.data(), environ) != 0) return -1;
  return child;
}

int awaitChild(pid_t child) {
  if (child < 0) return kCannotStartStatus;
  int waitStatus = 0;
  while (waitpid(child, &waitStatus, 0) < 0) {
    if (errno != EINTR) return kCannotStartStatus;
  }
  return terminationStatus(waitStatus);
}

// A pipe end above standard error and closed on exec, so that it can never be
// one of the child's 0 to 2 that the spawn sets up.
int aboveStandardError(int end) {
  const int moved = fcntl(end, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(end);
  return moved;
}

}  // namespace

int spawnAndWait(const std::string& executable, const std::vector<std::string>& arguments,
                 const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes) {
  return awaitChild(spawn(executable, arguments, actions, attributes));
}

int runShell(const std::string& executable, const std::vector<std::string>& arguments) {
  const ChildDescriptors descriptors(-1);
  return spawnAndWait(executable, arguments, descriptors.actions(), descriptors.attributes());
}

// Read to the end, so that a child with more to say than is kept never waits
// on a full pipe.
int runShellReading(const std::string& executable, const std::vector<std::string>& arguments, std::string& output) {
  output.clear();
  int ends[2];
  if (pipe(ends) != 0) return kCannotStartStatus;
  const int reading = aboveStandardError(ends[0]);
  const int writing = aboveStandardError(ends[1]);
  const ChildDescriptors descriptors(writing);
  const pid_t child =
      writing < 0 || reading < 0 ? -1 : spawn(executable, arguments, descriptors.actions(), descriptors.attributes());
  close(writing);
  char buffer[4096];
  for (ssize_t got; (got = read(reading, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) output.append(buffer, std::min(static_cast<std::size_t>(got), kReadOutputBytes - output.size()));
  }
  close(reading);
  return awaitChild(child);
}
