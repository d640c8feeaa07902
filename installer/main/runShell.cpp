#include "runShell.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Owns the spawn file actions that point the child's output at /dev/null.
class DiscardedOutput {
 public:
  DiscardedOutput() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  ~DiscardedOutput() { posix_spawn_file_actions_destroy(&actions_); }
  DiscardedOutput(const DiscardedOutput&) = delete;
  DiscardedOutput& operator=(const DiscardedOutput&) = delete;

  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

int terminationStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  return WTERMSIG(waitStatus);
}

}  // namespace

int runShell(const std::string& executable, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const DiscardedOutput output;
  pid_t child = -1;
  if (posix_spawn(&child, executable.c_str(), output.get(), nullptr, argv.data(), environ) != 0) {
    return kCannotStartStatus;
  }
  int waitStatus = 0;
  while (waitpid(child, &waitStatus, 0) < 0) {
    if (errno != EINTR) return kCannotStartStatus;
  }
  return terminationStatus(waitStatus);
}
