// The names in <sys/proc_info.h> that the Mac's port reader uses, with the
// types macOS gives them; the fields it does not read are left out.
#pragma once

#include <netinet/in.h>
#include <stdint.h>
#include <sys/types.h>

#define MAXCOMLEN 16
#define PROC_ALL_PIDS 1
#define PROC_PIDLISTFDS 1
#define PROC_PIDTBSDINFO 3
#define PROC_PIDFDSOCKETINFO 3
#define PROX_FDTYPE_SOCKET 2
#define INI_IPV4 0x1
#define TSI_S_LISTEN 1
enum { SOCKINFO_GENERIC = 0, SOCKINFO_IN = 1, SOCKINFO_TCP = 2 };

struct proc_bsdinfo {
  uid_t pbi_uid;
  char pbi_comm[MAXCOMLEN];
};
struct proc_fdinfo {
  int32_t proc_fd;
  uint32_t proc_fdtype;
};
struct in4in6_addr {
  u_int32_t i46a_pad32[3];
  struct in_addr i46a_addr4;
};
struct in_sockinfo {
  int insi_fport, insi_lport;
  uint8_t insi_vflag;
  union {
    struct in4in6_addr ina_46;
    struct in6_addr ina_6;
  } insi_faddr, insi_laddr;
};
struct tcp_sockinfo {
  struct in_sockinfo tcpsi_ini;
  int tcpsi_state;
};
struct socket_info {
  uint64_t soi_so;
  int soi_kind;
  union {
    struct in_sockinfo pri_in;
    struct tcp_sockinfo pri_tcp;
  } soi_proto;
};
struct socket_fdinfo {
  struct socket_info psi;
};
