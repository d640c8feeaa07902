#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ClientTable.h"

namespace {

const std::string kLine = "{\"cpuTemp\":1.0,\"cpuTempAvg\":1.0,\"gpuTemp\":1.0,\"gpuUtil\":0.010}\n";

// A registered client: the helper's end goes into the table, the test keeps the peer.
struct Peer {
  int helperEnd = -1;
  int fd = -1;
};

Peer connectPeer(int peerBufferBytes = 0) {
  int ends[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  if (peerBufferBytes > 0) {
    setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &peerBufferBytes, sizeof peerBufferBytes);
    setsockopt(ends[1], SOL_SOCKET, SO_RCVBUF, &peerBufferBytes, sizeof peerBufferBytes);
  }
  addClient(ends[0]);
  return Peer{ends[0], ends[1]};
}

std::string drain(int fd) {
  std::string got;
  char chunk[4096];
  ssize_t n;
  while ((n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) got.append(chunk, static_cast<size_t>(n));
  return got;
}

bool sawEndOfStream(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 1000) != 1) return false;
  drain(fd);
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

std::vector<int> tableFds() {
  const ClientTableView view = clientTableSnapshot();
  return std::vector<int>(view.fds, view.fds + view.count);
}

class ClientTable : public ::testing::Test {
 protected:
  // The table is process-wide: empty it by closing every peer and sending once.
  void TearDown() override {
    for (const Peer& peer : peers_) close(peer.fd);
    broadcastLine(kLine.data(), kLine.size());
    ASSERT_EQ(clientTableSnapshot().count, 0);
  }
  Peer add(int bufferBytes = 0) {
    peers_.push_back(connectPeer(bufferBytes));
    return peers_.back();
  }
  std::vector<Peer> peers_;
};

TEST_F(ClientTable, FifthClientIsClosedWithoutDataAndDisplacesNobody) {
  std::vector<int> expected;
  for (int i = 0; i < 4; ++i) expected.push_back(add().helperEnd);
  EXPECT_EQ(tableFds(), expected);

  const Peer fifth = connectPeer();
  EXPECT_TRUE(sawEndOfStream(fifth.fd));
  close(fifth.fd);
  EXPECT_EQ(tableFds(), expected);

  broadcastLine(kLine.data(), kLine.size());
  for (const Peer& peer : peers_) EXPECT_EQ(drain(peer.fd), kLine);
}

TEST_F(ClientTable, RemovingSlotZeroOfThreeMovesTheRestDownInOrder) {
  const Peer first = add();
  const Peer second = add();
  const Peer third = add();
  close(first.fd);
  peers_.erase(peers_.begin());

  broadcastLine(kLine.data(), kLine.size());
  EXPECT_EQ(tableFds(), (std::vector<int>{second.helperEnd, third.helperEnd}));
  EXPECT_EQ(drain(second.fd), kLine);
  EXPECT_EQ(drain(third.fd), kLine);
}

TEST_F(ClientTable, TwoOfFourGoneInOneCycleLeavesSurvivorsOneLineEach) {
  for (int i = 0; i < 4; ++i) add();
  close(peers_[1].fd);
  close(peers_[3].fd);
  const std::vector<Peer> survivors{peers_[0], peers_[2]};
  peers_ = survivors;

  broadcastLine(kLine.data(), kLine.size());
  EXPECT_EQ(tableFds(), (std::vector<int>{survivors[0].helperEnd, survivors[1].helperEnd}));
  for (const Peer& peer : survivors) EXPECT_EQ(drain(peer.fd), kLine);

  // The freed slots are reused from the end of the packed table.
  const Peer newcomer = add();
  EXPECT_EQ(tableFds(), (std::vector<int>{survivors[0].helperEnd, survivors[1].helperEnd, newcomer.helperEnd}));
}

TEST_F(ClientTable, StuckClientIsDroppedWithoutStallingTheOthers) {
  const Peer reader = add();
  const Peer stuck = add(4096);  // never reads; its buffers fill quickly

  int cycles = 0;
  std::string stuckGot;
  while (clientTableSnapshot().count == 2 && cycles < 100000) {
    broadcastLine(kLine.data(), kLine.size());  // would block here without the mend
    ASSERT_EQ(drain(reader.fd), kLine) << "cycle " << cycles;
    ++cycles;
  }
  EXPECT_EQ(tableFds(), std::vector<int>{reader.helperEnd});

  // What the stuck client was sent ends in whole lines, then the stream ends:
  // any fragment left by the last attempt is never followed by further data.
  stuckGot = drain(stuck.fd);
  const size_t whole = stuckGot.size() / kLine.size();
  EXPECT_GT(whole, 0u);
  for (size_t i = 0; i < whole; ++i) EXPECT_EQ(stuckGot.substr(i * kLine.size(), kLine.size()), kLine);
  EXPECT_TRUE(sawEndOfStream(stuck.fd));
}

TEST_F(ClientTable, ClientThatSendsDataIsNeverReadAndKeepsItsSlot) {
  const Peer chatty = add();
  const std::string noise(1000, 'x');
  for (int cycle = 0; cycle < 20; ++cycle) {
    ASSERT_GT(send(chatty.fd, noise.data(), noise.size(), MSG_DONTWAIT), 0);
    broadcastLine(kLine.data(), kLine.size());
    EXPECT_EQ(drain(chatty.fd), kLine);
  }
  EXPECT_EQ(tableFds(), std::vector<int>{chatty.helperEnd});
}

}  // namespace
