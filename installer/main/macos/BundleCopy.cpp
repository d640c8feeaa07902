#include "BundleCopy.h"

#include <cerrno>
#include <copyfile.h>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "FileErrorText.h"

namespace {

constexpr const char* kQuarantine = "com.apple.quarantine";

FileError unmark(const std::string& path) {
  if (removexattr(path.c_str(), kQuarantine, XATTR_NOFOLLOW) == 0 || errno == ENOATTR) return std::nullopt;
  return describeFileError("remove the download mark from", path, std::strerror(errno));
}

}  // namespace

FileError copyBundle(const std::string& from, const std::string& to) {
  struct stat existing {};
  if (lstat(to.c_str(), &existing) == 0)
    return describeFileError("copy \"" + from + "\" to", to, std::strerror(EEXIST));
  if (copyfile(from.c_str(), to.c_str(), nullptr, COPYFILE_ALL | COPYFILE_RECURSIVE) != 0) {
    return describeFileError("copy \"" + from + "\" to", to, std::strerror(errno));
  }
  return std::nullopt;
}

FileError removeQuarantine(const std::string& path) {
  if (const FileError failure = unmark(path)) return failure;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return describeFileError("look at", path, std::strerror(errno));
  if (!S_ISDIR(info.st_mode)) return std::nullopt;
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return describeFileError("look into", path, std::strerror(errno));
  FileError failure;
  while (!failure) {
    errno = 0;
    const dirent* entry = readdir(folder);
    if (entry == nullptr) {
      if (errno != 0) failure = describeFileError("look into", path, std::strerror(errno));
      break;
    }
    const std::string name = entry->d_name;
    if (name != "." && name != "..") failure = removeQuarantine(path + "/" + name);
  }
  closedir(folder);
  return failure;
}
