// Who listens on a port: a listener this test opens, on any system; and on
// Linux, /proc trees that the test writes, malformed or odd.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "PortHolder.h"

namespace {

TEST(PortHolder, NamesThisProcessAsTheListenerItOpened) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  const PortHolder holder = whoListens(ntohs(address.sin_port));
  close(listener);
  ASSERT_EQ(holder.kind, PortHolder::Kind::ThisUser) << holder.reason;
  EXPECT_EQ(holder.pid, getpid());
  EXPECT_EQ(holder.uid, getuid());
  EXPECT_TRUE(holder.program && std::string("port_holder_test").starts_with(*holder.program));
}

#if defined(__linux__)
namespace fs = std::filesystem;

constexpr const char* kTitles =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
constexpr const char* kLoopbackListener =
    "   0: 0100007F:6CB6 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1001        0 5150 1\n";

struct ProcTree {
  std::string name;
  std::optional<std::string> tcp;  // none: no table at all
  std::string tcp6 = "";
  std::string holder = "4242";  // the process whose fd 3 is socket 5150
  std::string fdFolder = "fd";  // "fd-file": a file where the folder should be
  std::string comm = "PelagrinHelper\n";
  std::string answer;  // as describe() puts it
};

TEST(PortHolder, ReadsEveryProcTreeAsItsRowSays) {
  const std::string mine = std::to_string(getuid());
  const std::string row = std::string(kLoopbackListener);
  std::string thousands = kTitles;  // established connections to another port
  for (int i = 0; i < 5000; ++i) thousands += "   0: 0100007F:1F90 0100007F:9C40 01 0:0 0:0 0 1001 0 9\n";
  const ProcTree trees[] = {
      {.name = "no table",
       .tcp = std::nullopt,
       .answer = "cannot tell who; why: @/net/tcp cannot be read: No such file or directory"},
      {.name = "no titles",
       .tcp = "",
       .answer = "cannot tell who; why: @/net/tcp does not begin with the socket table's column titles"},
      {.name = "a row cut short",
       .tcp = kTitles + row.substr(0, 60),
       .answer = "cannot tell who; why: @/net/tcp line 2 is not a socket table row"},
      {.name = "lower-case hex",
       .tcp = kTitles + std::string("   0: 0100007f:6CB6 00000000:0000 0A 0:0 0:0 0 1001 0 5150\n"),
       .answer = "cannot tell who; why: @/net/tcp line 2 is not a socket table row"},
      {.name = "a row without end",
       .tcp = kTitles + std::string(600, ' '),
       .answer = "cannot tell who; why: @/net/tcp line 2 is too long"},
      {.name = "another port, another address, not listening",
       .tcp = kTitles +
              std::string("   0: 0100007F:6CB7 00000000:0000 0A 0:0 0:0 0 1001 0 1\n   1: 0200007F:6CB6 00000000:0000 "
                          "0A 0:0 0:0 0 1001 0 2\n   2: 0100007F:6CB6 0100007F:1234 01 0:0 0:0 0 1001 0 3\n"),
       .answer = "nothing"},
      {.name = "another user's helper", .tcp = kTitles + row, .answer = "PelagrinHelper (pid 4242) of user 1001"},
      {.name = "thousands of sockets", .tcp = thousands + row, .answer = "PelagrinHelper (pid 4242) of user 1001"},
      {.name = "bound to 127.0.0.1 before every address",
       .tcp = kTitles + std::string("   0: 00000000:6CB6 00000000:0000 0A 0:0 0:0 0 7 0 6\n") + row,
       .answer = "PelagrinHelper (pid 4242) of user 1001"},
      {.name = "IPv6, every address",
       .tcp = kTitles,
       .tcp6 = std::string(kTitles) +
               "   0: 00000000000000000000000000000000:6CB6 00000000000000000000000000000000:0000 0A 0:0 0:0 0 " +
               mine + " 0 5150\n",
       .answer = "PelagrinHelper (pid 4242) of this user (uid " + mine + ")"},
      {.name = "two sockets share the port",
       .tcp = kTitles + row + row,
       .answer = "cannot tell who; why: more than one socket listens on port 27830"},
      {.name = "a process that may not be looked at",
       .tcp = kTitles + row,
       .fdFolder = "fd-file",
       .answer = "a process of user 1001, whose pid and program may not be read"},
      {.name = "this user's, but hidden",
       .tcp = kTitles + std::string("   0: 0100007F:6CB6 00000000:0000 0A 0:0 0:0 0 ") + mine + " 0 5150\n",
       .fdFolder = "fd-file",
       .answer = "cannot tell who; why: no process that may be looked at holds the socket, and some may not be"},
      {.name = "held by nobody",
       .tcp = kTitles + row,
       .holder = "",
       .answer = "cannot tell who; why: no process holds the socket: it closed while it was looked at"},
      {.name = "gone while looked at",
       .tcp = kTitles + row,
       .comm = "",
       .answer = "cannot tell who; why: process 4242 ended while it was looked at"},
  };
  for (const ProcTree& tree : trees) {
    const fs::path root = fs::temp_directory_path() / ("proc-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "net");
    fs::create_directories(root / "1/fd");
    fs::create_symlink("/dev/null", root / "1/fd/0");
    if (tree.tcp) std::ofstream(root / "net/tcp") << *tree.tcp;
    if (!tree.tcp6.empty()) std::ofstream(root / "net/tcp6") << tree.tcp6;
    if (!tree.holder.empty()) {
      const fs::path process = root / tree.holder;
      fs::create_directories(process);
      if (tree.fdFolder == "fd") {
        fs::create_directories(process / "fd");
        fs::create_symlink("socket:[5150]", process / "fd/3");
      } else {
        std::ofstream(process / "fd") << "";
      }
      if (!tree.comm.empty()) std::ofstream(process / "comm") << tree.comm;
    }
    std::string expected = tree.answer;
    if (const std::size_t at = expected.find('@'); at != std::string::npos) expected.replace(at, 1, root.string());
    EXPECT_EQ(describe(whoListens(27830, root.string())), expected) << tree.name;
    fs::remove_all(root);
  }
}
#endif

}  // namespace
