// The Linux socket table: the LISTEN rows of net/tcp and net/tcp6 give the
// socket's owner and inode, the fd links of every process name the inode, and
// comm names the process.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "PortHolder.h"

namespace {

// Far beyond any desktop, so that a table or process list without end gives
// up instead of holding the caller.
constexpr std::size_t kMostRows = 1'000'000;
constexpr std::size_t kMostRowBytes = 512;
constexpr std::size_t kMostProcesses = 100'000;
constexpr std::size_t kMostDescriptors = 1'000'000;
constexpr unsigned kListenState = 0x0A;

struct Listener {
  int rank = -1;  // how closely it matches 127.0.0.1, as the kernel chooses among listeners
  std::uint32_t uid = 0;
  unsigned long long inode = 0;
  bool shared = false;  // another socket of the same rank listens too
};

// Hex digits from end to end, at most `digits` of them.
bool hexField(const std::string& text, std::size_t digits, unsigned long long& value) {
  if (text.empty() || text.size() > digits) return false;
  value = 0;
  static const std::string kDigits = "0123456789ABCDEF";  // as the kernel prints them
  for (const char c : text) {
    const std::size_t digit = kDigits.find(c);
    if (digit == std::string::npos) return false;
    value = value * 16 + digit;
  }
  return true;
}

bool decimalField(const std::string& text, unsigned long long& value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoull(text);
  return true;
}

// The kernel prints each 32-bit word of an address as it lies in memory, in
// network order, read as a native integer.
std::uint32_t word(std::uint32_t hostOrder) { return htonl(hostOrder); }

// How a local address takes connections to 127.0.0.1: 3 bound to it, 2 bound
// to it as an IPv4-mapped IPv6 address, 1 to every IPv4 address, 0 to every
// address; -1 not at all, and -2 where it is no address in the kernel's form.
int rankOf(const std::string& address) {
  unsigned long long words[4] = {};
  const std::size_t count = address.size() / 8;
  if ((count != 1 && count != 4) || address.size() % 8 != 0) return -2;
  for (std::size_t i = 0; i < count; ++i) {
    if (!hexField(address.substr(i * 8, 8), 8, words[i])) return -2;
  }
  if (count == 1) {
    if (words[0] == word(INADDR_LOOPBACK)) return 3;
    return words[0] == 0 ? 1 : -1;
  }
  const bool mapped = words[0] == 0 && words[1] == 0 && words[2] == word(0xFFFF);
  if (mapped && words[3] == word(INADDR_LOOPBACK)) return 2;
  return words[0] == 0 && words[1] == 0 && words[2] == 0 && words[3] == 0 ? 0 : -1;
}

// One table: false, with the reason, where it cannot be read whole.
bool readTable(const std::string& path, std::uint16_t port, Listener& best, std::string& reason) {
  std::ifstream table(path);
  if (!table) {
    reason = path + " cannot be read: " + std::strerror(errno);
    return false;
  }
  std::string row;
  if (!std::getline(table, row) || row.find("local_address") == std::string::npos) {
    reason = path + " does not begin with the socket table's column titles";
    return false;
  }
  for (std::size_t number = 2; std::getline(table, row); ++number) {
    const std::string where = path + " line " + std::to_string(number);
    if (number > kMostRows) {
      reason = path + " has more than " + std::to_string(kMostRows) + " rows";
      return false;
    }
    if (row.size() > kMostRowBytes) {
      reason = where + " is too long";
      return false;
    }
    char slot[32] = {}, local[64] = {}, remote[64] = {}, state[8] = {}, uid[24] = {}, inode[24] = {};
    unsigned long long portValue = 0, stateValue = 0, uidValue = 0, inodeValue = 0;
    const int fields = std::sscanf(row.c_str(), " %31s %63s %63s %7s %*s %*s %*s %23s %*s %23s", slot, local, remote,
                                   state, uid, inode);
    const std::string localText = local;
    const std::size_t colon = localText.find(':');
    const int rank = colon == std::string::npos ? -2 : rankOf(localText.substr(0, colon));
    if (fields != 6 || rank == -2 || !hexField(localText.substr(colon + 1), 4, portValue) ||
        !hexField(state, 2, stateValue) || !decimalField(uid, uidValue) || !decimalField(inode, inodeValue) ||
        uidValue > UINT32_MAX) {
      reason = where + " is not a socket table row";
      return false;
    }
    if (stateValue != kListenState || portValue != port || rank < 0 || rank < best.rank) continue;
    if (rank == best.rank) {
      best.shared = true;
      continue;
    }
    best = {.rank = rank, .uid = static_cast<std::uint32_t>(uidValue), .inode = inodeValue, .shared = false};
  }
  if (table.bad()) {
    reason = path + " could not be read to its end";
    return false;
  }
  return true;
}

// A process's or a descriptor's folder name: a number that fits an int.
bool isNumber(const char* name) {
  const std::size_t length = std::strlen(name);
  return length > 0 && length < 10 && std::strspn(name, "0123456789") == length;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

struct Scan {
  std::size_t descriptors = 0;
  std::size_t unreadable = 0;  // processes whose descriptors may not be looked at
};

enum class Holds { No, Yes, TooMany };

Holds holdsSocket(const std::string& fdFolder, const std::string& link, Scan& scan) {
  const Dir fds(opendir(fdFolder.c_str()));
  if (!fds) {
    if (errno != ENOENT) ++scan.unreadable;  // gone is no loss
    return Holds::No;
  }
  char target[64];
  bool closed = false;  // a process of this uid in an outer user namespace lists its links but keeps them
  while (const dirent* entry = readdir(fds.get())) {
    if (!isNumber(entry->d_name)) continue;
    if (++scan.descriptors > kMostDescriptors) return Holds::TooMany;
    const ssize_t size = readlinkat(dirfd(fds.get()), entry->d_name, target, sizeof target);
    if (size > 0 && link.compare(0, std::string::npos, target, static_cast<std::size_t>(size)) == 0) return Holds::Yes;
    closed = closed || (size < 0 && errno != ENOENT);
  }
  if (closed) ++scan.unreadable;
  return Holds::No;
}

PortHolder holderOf(const std::string& procRoot, const Listener& listener) {
  const bool mine = listener.uid == getuid();
  const PortHolder::Kind kind = mine ? PortHolder::Kind::ThisUser : PortHolder::Kind::OtherUser;
  const Dir processes(opendir(procRoot.c_str()));
  if (!processes) return cannotTell(procRoot + " cannot be read: " + std::strerror(errno));
  const std::string link = "socket:[" + std::to_string(listener.inode) + "]";
  Scan scan;
  std::size_t count = 0;
  while (const dirent* entry = readdir(processes.get())) {
    if (!isNumber(entry->d_name)) continue;
    if (++count > kMostProcesses) return cannotTell("more than " + std::to_string(kMostProcesses) + " processes");
    const std::string folder = procRoot + "/" + entry->d_name;
    const Holds holds = holdsSocket(folder + "/fd", link, scan);
    if (holds == Holds::TooMany) {
      return cannotTell("more than " + std::to_string(kMostDescriptors) + " descriptors to look through");
    }
    if (holds == Holds::No) continue;
    std::ifstream commFile(folder + "/comm");
    std::string program;
    if (!std::getline(commFile, program)) {
      return cannotTell("process " + std::string(entry->d_name) + " ended while it was looked at");
    }
    return {.kind = kind, .uid = listener.uid, .pid = std::stoi(entry->d_name), .program = program, .reason = ""};
  }
  // Another user's processes may be closed to us; the table still says whose the socket is.
  if (!mine && scan.unreadable > 0) return {.kind = kind, .uid = listener.uid, .pid = {}, .program = {}, .reason = ""};
  if (scan.unreadable > 0) {
    return cannotTell("no process that may be looked at holds the socket, and some may not be");
  }
  return cannotTell("no process holds the socket: it closed while it was looked at");
}

}  // namespace

PortHolder whoListens(std::uint16_t port, const std::string& procRoot) {
  Listener best;
  std::string reason;
  if (!readTable(procRoot + "/net/tcp", port, best, reason)) return cannotTell(reason);
  // A kernel without IPv6 has no tcp6 table at all.
  const std::string tcp6 = procRoot + "/net/tcp6";
  if (access(tcp6.c_str(), F_OK) == 0 && !readTable(tcp6, port, best, reason)) return cannotTell(reason);
  if (best.rank < 0) return {.kind = PortHolder::Kind::Nobody, .uid = {}, .pid = {}, .program = {}, .reason = ""};
  if (best.shared) return cannotTell("more than one socket listens on port " + std::to_string(port));
  return holderOf(procRoot, best);
}

PortHolder whoListens(std::uint16_t port) { return whoListens(port, "/proc"); }
