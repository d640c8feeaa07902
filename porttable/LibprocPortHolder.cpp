// The Mac's socket table through libproc: every process's descriptors, the
// TCP ones among them in the listening state on the port, and the process's
// BSD record for its user and name. A user may list only their own processes'
// descriptors; root may list all.
#include <arpa/inet.h>
#include <libproc.h>
#include <netinet/in.h>
#include <sys/proc_info.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "PortHolder.h"

namespace {

// Far beyond any Mac, so that a list without end gives up instead of holding the caller.
constexpr std::size_t kMostProcesses = 100'000;
constexpr std::size_t kMostDescriptors = 1'000'000;
// Room for processes and descriptors that appear between asking the size and the list.
constexpr std::size_t kSpare = 64;

struct Listener {
  int rank = -1;             // how closely it matches 127.0.0.1, as the kernel chooses among listeners
  std::uint64_t handle = 0;  // the kernel's socket, the same in every process that shares it
  pid_t pid = 0;
  bool shared = false;  // another socket of the same rank listens too
};

// How a listening socket takes connections to 127.0.0.1: 3 bound to it, 2
// bound to it as an IPv4-mapped IPv6 address, 1 to every IPv4 address, 0 to
// every address; -1 not at all, or not a TCP listener on the port.
int rankOf(const socket_info& info, std::uint16_t port) {
  if (info.soi_kind != SOCKINFO_TCP) return -1;
  const tcp_sockinfo& tcp = info.soi_proto.pri_tcp;
  // insi_lport holds the port as the socket does, in network order.
  if (tcp.tcpsi_state != TSI_S_LISTEN || ntohs(static_cast<std::uint16_t>(tcp.tcpsi_ini.insi_lport)) != port) return -1;
  if (tcp.tcpsi_ini.insi_vflag & INI_IPV4) {
    const in_addr address = tcp.tcpsi_ini.insi_laddr.ina_46.i46a_addr4;
    if (address.s_addr == htonl(INADDR_LOOPBACK)) return 3;
    return address.s_addr == htonl(INADDR_ANY) ? 1 : -1;
  }
  const in6_addr& address = tcp.tcpsi_ini.insi_laddr.ina_6;
  if (IN6_IS_ADDR_V4MAPPED(&address)) {
    in_addr mapped{};
    std::memcpy(&mapped, &address.s6_addr[12], sizeof mapped);
    return mapped.s_addr == htonl(INADDR_LOOPBACK) ? 2 : -1;
  }
  return IN6_IS_ADDR_UNSPECIFIED(&address) ? 0 : -1;
}

std::vector<pid_t> allProcesses() {
  const int bytes = proc_listpids(PROC_ALL_PIDS, 0, nullptr, 0);
  if (bytes <= 0) return {};
  std::vector<pid_t> pids(static_cast<std::size_t>(bytes) / sizeof(pid_t) + kSpare);
  const int filled = proc_listpids(PROC_ALL_PIDS, 0, pids.data(), static_cast<int>(pids.size() * sizeof(pid_t)));
  pids.resize(filled > 0 ? static_cast<std::size_t>(filled) / sizeof(pid_t) : 0);
  return pids;
}

// False where the process's descriptors may not be listed; a process that
// has gone lists none.
bool descriptorsOf(pid_t pid, std::vector<proc_fdinfo>& fds) {
  fds.clear();
  const int bytes = proc_pidinfo(pid, PROC_PIDLISTFDS, 0, nullptr, 0);
  if (bytes <= 0) return errno == ESRCH;
  fds.resize(static_cast<std::size_t>(bytes) / sizeof(proc_fdinfo) + kSpare);
  const int filled =
      proc_pidinfo(pid, PROC_PIDLISTFDS, 0, fds.data(), static_cast<int>(fds.size() * sizeof(proc_fdinfo)));
  fds.resize(filled > 0 ? static_cast<std::size_t>(filled) / sizeof(proc_fdinfo) : 0);
  return filled > 0 || errno == ESRCH;
}

}  // namespace

PortHolder whoListens(std::uint16_t port) {
  const std::vector<pid_t> pids = allProcesses();
  if (pids.empty()) return cannotTell(std::string("the process list cannot be read: ") + std::strerror(errno));
  if (pids.size() > kMostProcesses) return cannotTell("more than " + std::to_string(kMostProcesses) + " processes");
  Listener best;
  std::size_t unreadable = 0;
  std::size_t descriptors = 0;
  std::vector<proc_fdinfo> fds;
  for (const pid_t pid : pids) {
    if (pid <= 0) continue;  // the kernel's own
    if (!descriptorsOf(pid, fds)) ++unreadable;
    descriptors += fds.size();
    if (descriptors > kMostDescriptors) {
      return cannotTell("more than " + std::to_string(kMostDescriptors) + " descriptors to look through");
    }
    for (const proc_fdinfo& fd : fds) {
      if (fd.proc_fdtype != PROX_FDTYPE_SOCKET) continue;
      socket_fdinfo info{};
      const int size = static_cast<int>(sizeof info);
      if (proc_pidfdinfo(pid, fd.proc_fd, PROC_PIDFDSOCKETINFO, &info, size) != size) continue;  // closed meanwhile
      const int rank = rankOf(info.psi, port);
      if (rank < 0 || rank < best.rank || (rank == best.rank && info.psi.soi_so == best.handle)) continue;
      if (rank == best.rank) {
        best.shared = true;
        continue;
      }
      best = {.rank = rank, .handle = info.psi.soi_so, .pid = pid, .shared = false};
    }
  }
  if (best.rank < 0) {
    if (unreadable == 0) return {.kind = PortHolder::Kind::Nobody, .uid = {}, .pid = {}, .program = {}, .reason = ""};
    return cannotTell("no process it may look at listens there, and " + std::to_string(unreadable) +
                      " processes of other users may not be looked at");
  }
  if (best.shared) return cannotTell("more than one socket listens on port " + std::to_string(port));
  // One bound to 127.0.0.1 itself would take the connections first.
  if (best.rank < 3 && unreadable > 0) {
    return cannotTell("the socket found listens on every address, and " + std::to_string(unreadable) +
                      " processes of other users may not be looked at");
  }
  proc_bsdinfo process{};
  const int size = static_cast<int>(sizeof process);
  if (proc_pidinfo(best.pid, PROC_PIDTBSDINFO, 0, &process, size) != size) {
    return cannotTell("process " + std::to_string(best.pid) + " ended while it was looked at");
  }
  const bool mine = process.pbi_uid == getuid();
  return {.kind = mine ? PortHolder::Kind::ThisUser : PortHolder::Kind::OtherUser,
          .uid = process.pbi_uid,
          .pid = best.pid,
          .program = std::string(process.pbi_comm, strnlen(process.pbi_comm, sizeof process.pbi_comm)),
          .reason = ""};
}
