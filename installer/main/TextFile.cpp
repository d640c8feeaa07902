#include "TextFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileErrorText.h"

namespace {

FileError failure(const char* action, const std::string& path, int error) {
  return describeFileError(action, path, std::strerror(error));
}

// Owns a descriptor so every early return closes it.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  // Closes now, reporting the error a deferred write may only show here.
  int closeNow() {
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Returns 0 on success, else the errno of the first step that failed.
int writeAndRename(const std::string& temporary, FileDescriptor& file, const std::string& path, std::string_view text) {
  // The agent file is read by the user's session; nobody else may change it.
  if (!writeAll(file.get(), text) || fchmod(file.get(), 0644) != 0 || fsync(file.get()) != 0) return errno;
  if (file.closeNow() != 0) return errno;
  if (rename(temporary.c_str(), path.c_str()) != 0) return errno;
  return 0;
}

std::string temporaryPatternBeside(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + name + ".XXXXXX";
}

// The length of the sequence a lead byte starts, or 0 when it cannot lead.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The second byte carries the limits that rule out overlong forms, surrogates
// and code points past U+10FFFF.
bool secondByteAllowed(unsigned char lead, unsigned char second) {
  if (lead == 0xE0) return second >= 0xA0 && second <= 0xBF;
  if (lead == 0xED) return second >= 0x80 && second <= 0x9F;
  if (lead == 0xF0) return second >= 0x90 && second <= 0xBF;
  if (lead == 0xF4) return second >= 0x80 && second <= 0x8F;
  return second >= 0x80 && second <= 0xBF;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || i + length > text.size()) return false;
    if (length > 1 && !secondByteAllowed(lead, static_cast<unsigned char>(text[i + 1]))) return false;
    for (std::size_t k = 2; k < length; ++k) {
      const auto continuation = static_cast<unsigned char>(text[i + k]);
      if (continuation < 0x80 || continuation > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

FileError readTextFile(const std::string& path, std::string& text) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return failure("read", path, errno);
  std::string content;
  char buffer[8192];
  for (;;) {
    const ssize_t count = read(file.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return failure("read", path, errno);
    if (count == 0) break;
    content.append(buffer, static_cast<std::size_t>(count));
  }
  if (!isValidUtf8(content)) return "\"" + path + "\" is not valid UTF-8 text.";
  text = std::move(content);
  return std::nullopt;
}

FileError writeTextFileAtomically(const std::string& path, std::string_view text) {
  std::string temporary = temporaryPatternBeside(path);
  FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
  if (file.get() < 0) return failure("write", path, errno);
  const int error = writeAndRename(temporary, file, path, text);
  if (error == 0) return std::nullopt;
  unlink(temporary.c_str());
  return failure("write", path, error);
}
