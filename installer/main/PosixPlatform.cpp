#include "PosixPlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "FileErrorText.h"
#include "LoopbackLine.h"
#include "TextFile.h"
#include "runShell.h"

namespace fs = std::filesystem;

std::uint32_t PosixPlatform::userId() { return static_cast<std::uint32_t>(getuid()); }

bool PosixPlatform::fileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

bool PosixPlatform::isGone(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

std::vector<std::string> PosixPlatform::folderEntries(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(path, error), end; !error && entry != end; entry.increment(error)) {
    names.push_back(entry->path().filename().string());
  }
  return names;
}

FileError PosixPlatform::removeItem(const std::string& path) {
  std::error_code error;
  fs::remove_all(path, error);
  if (error) return describeFileError("remove", path, error.message());
  return std::nullopt;
}

FileError PosixPlatform::removeEmptyDirectory(const std::string& path) {
  if (rmdir(path.c_str()) != 0) return describeFileError("remove", path, std::strerror(errno));
  return std::nullopt;
}

FileError PosixPlatform::createDirectory(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) return describeFileError("create the folder", path, error.message());
  return std::nullopt;
}

FileError PosixPlatform::moveItem(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0)
    return describeFileError("move \"" + from + "\" to", to, std::strerror(errno));
  return std::nullopt;
}

FileError PosixPlatform::readTextFile(const std::string& path, std::string& text) { return ::readTextFile(path, text); }

FileError PosixPlatform::writeTextFileAtomically(const std::string& path, const std::string& text) {
  return ::writeTextFileAtomically(path, text);
}

int PosixPlatform::runShell(const std::string& executable, const std::vector<std::string>& arguments) {
  return ::runShell(executable, arguments);
}

int PosixPlatform::runShellReading(const std::string& executable, const std::vector<std::string>& arguments,
                                   std::string& output) {
  return ::runShellReading(executable, arguments, output);
}

int PosixPlatform::runDetached(const std::string& executable, const std::vector<std::string>& arguments) {
  return ::runShell(executable, arguments);
}

void PosixPlatform::sleepFor(double seconds) {
  const auto whole = static_cast<time_t>(seconds);
  timespec remaining{whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {}
}

PortReply PosixPlatform::readLoopbackLine(std::uint16_t port, double seconds, std::size_t maxBytes) {
  return ::readLoopbackLine(port, seconds, maxBytes);
}

PortHolder PosixPlatform::whoListens(std::uint16_t port) { return ::whoListens(port); }
