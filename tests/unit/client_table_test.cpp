#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <set>
#include <vector>

#include "service/ClientTable.h"

// The send phase under a scripted send(): the order in which it serves the
// table, and what it does with clients whose send fails or falls short.
namespace {
std::vector<int> served;
std::set<int> refusing, shortchanging;
}  // namespace

// Defined here, this send() interposes on libc's for the whole test binary:
// the table's sends reach it instead of a socket.
extern "C" ssize_t send(int fd, const void*, size_t size, int) {
  served.push_back(fd);
  return refusing.count(fd) ? -1 : static_cast<ssize_t>(size - shortchanging.count(fd));
}

namespace {

std::vector<int> cycle(std::set<int> refuse = {}, std::set<int> cut = {}) {
  served.clear();
  refusing = std::move(refuse);
  shortchanging = std::move(cut);
  broadcastLine("{}\n", 3);
  return served;
}

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(ClientTable, ServesLastSlotFirstAndDropsFailuresKeepingTheRestInOrder) {
  int fds[6];
  for (int& fd : fds) fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int a = fds[0], b = fds[1], c = fds[2], d = fds[3], fifth = fds[4], later = fds[5];
  for (int i = 0; i < 5; ++i) addClient(fds[i]);
  EXPECT_FALSE(isOpen(fifth)) << "a fifth client is closed at once";
  EXPECT_EQ(cycle(), (std::vector<int>{d, c, b, a}));
  EXPECT_EQ(cycle({a}), (std::vector<int>{d, c, b, a}));
  EXPECT_EQ(cycle(), (std::vector<int>{d, c, b}));
  EXPECT_EQ(cycle({b}, {d}), (std::vector<int>{d, c, b})) << "a short send is a failure too";
  EXPECT_EQ(cycle(), (std::vector<int>{c}));
  addClient(later);
  EXPECT_EQ(cycle(), (std::vector<int>{later, c}));
  for (const int dropped : {a, b, d}) EXPECT_FALSE(isOpen(dropped)) << dropped;
  EXPECT_TRUE(isOpen(c) && isOpen(later));
}

}  // namespace
