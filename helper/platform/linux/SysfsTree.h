#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reading the sysfs tree: directories held open so that attributes resolve
// relative to them, and small attribute files read without ever blocking.

class Directory {
 public:
  // Opens `path` relative to the directory `parentFd` (or AT_FDCWD).
  Directory(int parentFd, const char* path);
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_;
};

struct NumberedEntry {
  unsigned number;
  std::string name;
};

// Entries named prefix + decimal digits + suffix (digits only, so "card0-DP-1"
// is no card), in increasing order of their number.
std::vector<NumberedEntry> numberedEntries(const Directory& directory, std::string_view prefix,
                                           std::string_view suffix);

// The whole content of a small attribute, or none when it cannot be opened or read.
std::optional<std::string> readAttribute(const Directory& directory, const char* path);

std::string_view firstLine(std::string_view text);

// The first line of an attribute as a decimal integer, or none.
std::optional<std::int64_t> readInteger(const Directory& directory, const char* path);

// A device asleep under runtime power management. Reading its sensors would
// wake it every cycle, so the walks leave it alone.
bool isSuspended(const Directory& deviceDirectory);

// The same for <sysfsRoot>/bus/pci/devices/<address>, address as the kernel
// names it ("0000:01:00.0").
bool isPciDeviceSuspended(const std::string& sysfsRoot, const std::string& address);
