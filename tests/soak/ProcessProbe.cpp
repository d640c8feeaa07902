#include "ProcessProbe.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "HelperProcess.h"

namespace {

// Calls `visit` with the number of each open descriptor.
template <typename Visit>
void forEachDescriptor(pid_t pid, Visit visit) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') visit(std::atoi(entry->d_name));
  closedir(dir);
}

}  // namespace

int openDescriptorCount(pid_t pid) {
  int count = 0;
  forEachDescriptor(pid, [&count](int) { ++count; });
  return count;
}

int descriptorCeiling(pid_t pid) {
  int ceiling = 0;
  forEachDescriptor(pid, [&ceiling](int fd) { ceiling = std::max(ceiling, fd + 1); });
  return ceiling;
}

long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string field;
  while (status >> field) {
    if (field == "VmRSS:") {
      long kib = -1;
      status >> kib;
      return kib;
    }
  }
  return -1;
}

long long ticksBesideMainThread(pid_t pid) {
  long long ticks = 0;
  for (const pid_t tid : threadIds(pid))
    if (tid != pid) ticks += threadCpuTicks(pid, tid);
  return ticks;
}

long long mainThreadTicks(pid_t pid) { return threadCpuTicks(pid, pid); }
