#include "platform/linux/SysfsTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace {

// Sysfs attributes hold at most a page; the ones read here are a line.
constexpr std::size_t kAttributeBytes = 256;

std::optional<unsigned> numberBetween(std::string_view name, std::string_view prefix, std::string_view suffix) {
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
    return std::nullopt;
  const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  unsigned number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  return number;
}

}  // namespace

Directory::Directory(int parentFd, const char* path)
    : fd_(openat(parentFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

Directory::~Directory() {
  if (fd_ >= 0) close(fd_);
}

std::vector<NumberedEntry> numberedEntries(const Directory& directory, std::string_view prefix,
                                           std::string_view suffix) {
  std::vector<NumberedEntry> entries;
  // The listing gets its own descriptor, as closedir closes it; the shared
  // offset is rewound so that every listing starts at the top.
  const int listingFd = directory.isOpen() ? dup(directory.fd()) : -1;
  if (listingFd < 0) return entries;
  DIR* listing = fdopendir(listingFd);
  if (!listing) {
    close(listingFd);
    return entries;
  }
  rewinddir(listing);
  while (const dirent* entry = readdir(listing)) {
    if (const auto number = numberBetween(entry->d_name, prefix, suffix)) entries.push_back({*number, entry->d_name});
  }
  closedir(listing);
  std::sort(entries.begin(), entries.end(),
            [](const NumberedEntry& a, const NumberedEntry& b) { return a.number < b.number; });
  return entries;
}

std::optional<std::string> readAttribute(const Directory& directory, const char* path) {
  // O_NONBLOCK: a FIFO or device node in the tree must not stall the cycle.
  const int fd = openat(directory.fd(), path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[kAttributeBytes];
  ssize_t count;
  do {
    count = read(fd, buffer, sizeof buffer);
  } while (count < 0 && errno == EINTR);
  close(fd);
  if (count < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(count));
}

std::string_view firstLine(std::string_view text) { return text.substr(0, text.find('\n')); }

std::optional<std::int64_t> readInteger(const Directory& directory, const char* path) {
  const auto content = readAttribute(directory, path);
  if (!content) return std::nullopt;
  const std::string_view line = firstLine(*content);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
  if (error != std::errc{} || end != line.data() + line.size() || line.empty()) return std::nullopt;
  return value;
}

namespace {

bool readsSuspended(const Directory& directory, const char* statusPath) {
  const auto status = readAttribute(directory, statusPath);
  return status && firstLine(*status) == "suspended";
}

}  // namespace

bool isSuspended(const Directory& deviceDirectory) {
  return readsSuspended(deviceDirectory, "device/power/runtime_status");
}

bool isPciDeviceSuspended(const std::string& sysfsRoot, const std::string& address) {
  const Directory device(AT_FDCWD, (sysfsRoot + "/bus/pci/devices/" + address).c_str());
  return device.isOpen() && readsSuspended(device, "power/runtime_status");
}
