// The parts of <sys/proc_info.h> that the Mac's port reader uses, as macOS
// lays them out (the fields it does not read are kept, so the layout holds).
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
  uint32_t pbi_flags, pbi_status, pbi_xstatus, pbi_pid, pbi_ppid;
  uid_t pbi_uid;
  gid_t pbi_gid;
  uid_t pbi_ruid;
  gid_t pbi_rgid;
  uid_t pbi_svuid;
  gid_t pbi_svgid;
  uint32_t rfu_1;
  char pbi_comm[MAXCOMLEN];
  char pbi_name[2 * MAXCOMLEN];
  uint32_t pbi_nfiles, pbi_pgid, pbi_pjobc, e_tdev, e_tpgid;
  int32_t pbi_nice;
  uint64_t pbi_start_tvsec, pbi_start_tvusec;
};
struct proc_fdinfo {
  int32_t proc_fd;
  uint32_t proc_fdtype;
};
struct proc_fileinfo {
  uint32_t fi_openflags, fi_status;
  off_t fi_offset;
  int32_t fi_type;
  uint32_t fi_guardflags;
};
struct in4in6_addr {
  u_int32_t i46a_pad32[3];
  struct in_addr i46a_addr4;
};
struct in_sockinfo {
  int insi_fport, insi_lport;
  uint64_t insi_gencnt;
  uint32_t insi_flags, insi_flow;
  uint8_t insi_vflag, insi_ip_ttl;
  uint32_t rfu_1;
  union {
    struct in4in6_addr ina_46;
    struct in6_addr ina_6;
  } insi_faddr, insi_laddr;
  struct {
    u_char in4_tos;
  } insi_v4;
  struct {
    uint8_t in6_hlim;
    int in6_cksum;
    u_short in6_ifindex;
    short in6_hops;
  } insi_v6;
};
struct tcp_sockinfo {
  struct in_sockinfo tcpsi_ini;
  int tcpsi_state, tcpsi_timer[4], tcpsi_mss;
  uint32_t tcpsi_flags, rfu_1;
  uint64_t tcpsi_tp;
};
struct socket_info {
  char soi_stat[136];  // struct vinfo_stat
  uint64_t soi_so, soi_pcb;
  int soi_type, soi_protocol, soi_family;
  short soi_options, soi_linger, soi_state, soi_qlen, soi_incqlen, soi_qlimit, soi_timeo;
  u_short soi_error;
  uint32_t soi_oobmark;
  char soi_rcv[24], soi_snd[24];  // struct sockbuf_info
  int soi_kind;
  uint32_t rfu_1;
  union {
    struct in_sockinfo pri_in;
    struct tcp_sockinfo pri_tcp;
  } soi_proto;
};
struct socket_fdinfo {
  struct proc_fileinfo pfi;
  struct socket_info psi;
};
