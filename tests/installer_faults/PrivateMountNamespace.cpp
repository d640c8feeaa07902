#include "PrivateMountNamespace.h"

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

// The exit status by which the child says it may not have a namespace.
constexpr int kNotPermitted = 77;

bool enterPrivateMountNamespace() {
  // Without MS_PRIVATE a mount under a shared "/" would reach the parent's namespace.
  return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

void writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) _exit(1);
    done += static_cast<std::size_t>(written);
  }
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(count));
  }
}

[[noreturn]] void runChild(int output, const std::function<std::string()>& work) {
  if (!enterPrivateMountNamespace()) _exit(kNotPermitted);
  writeAll(output, work());
  _exit(0);
}

int awaitExit(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
  }
  return status;
}

}  // namespace

std::optional<std::string> inPrivateMountNamespace(const std::function<std::string()>& work) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  const pid_t child = fork();
  if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (child == 0) {
    close(pipeEnds[0]);
    runChild(pipeEnds[1], work);
  }
  close(pipeEnds[1]);
  std::string output = readAll(pipeEnds[0]);
  close(pipeEnds[0]);
  const int status = awaitExit(child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNotPermitted) return std::nullopt;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the child in its own mount namespace ended with wait status " + std::to_string(status));
  }
  return output;
}
