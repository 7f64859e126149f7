// The descriptor loops every reader and writer shares: signals and short
// transfers never cut a read or a write, and a whole-file read is bounded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "hive/fd_io.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

// Signals sent by the running Interrupter, so that a peer can wait for some
// to arrive while the other side is blocked.
std::atomic<unsigned> signalsSent{0};
std::atomic<bool> interrupting{false};

// Waits while `more` holds, at most a second: a broken interrupter fails the
// checks instead of hanging.
template <class More>
void AwaitBriefly(More more) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (more() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::microseconds(50));
}

// The peer starts once signals are being sent.
void AwaitInterrupter() {
  AwaitBriefly([] { return !interrupting.load(); });
}

// The peer's pause: until two more signals have been sent, while they are.
void AwaitSignals() {
  const unsigned from = signalsSent.load();
  AwaitBriefly([from] { return interrupting.load() && signalsSent.load() < from + 2; });
}

// A handler that does nothing, installed without SA_RESTART, so that a
// blocked read or write returns EINTR (or a short count) when it arrives.
void Ignore(int) {}

class Interrupter {
 public:
  explicit Interrupter(pthread_t target) : target_(target) {
    struct sigaction sa {};
    sa.sa_handler = Ignore;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    ::sigaction(SIGUSR1, &sa, &old_);
    thread_ = std::thread([this] {
      while (!stop_) {
        ::pthread_kill(target_, SIGUSR1);
        sent_.fetch_add(1);
        signalsSent.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    interrupting = true;
  }
  ~Interrupter() {
    interrupting = false;
    stop_ = true;
    thread_.join();
    ::sigaction(SIGUSR1, &old_, nullptr);
  }
  unsigned Sent() const { return sent_; }

 private:
  pthread_t target_;
  struct sigaction old_ {};
  std::atomic<bool> stop_{false};
  std::atomic<unsigned> sent_{0};
  std::thread thread_;
};

// The peer of a pipe or socket moves small pieces and pauses until signals
// have come, so the other side blocks, is cut short and is interrupted.
enum class Channel { Pipe, SocketPair };

bool MakeChannel(Channel channel, int fds[2]) {
  if (channel == Channel::Pipe) return ::pipe(fds) == 0;
  return ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0;
}

class TransferUnderSignals : public ::testing::TestWithParam<Channel> {};

TEST_P(TransferUnderSignals, WriteAllDeliversEveryByteInOrder) {
  int fds[2];
  ASSERT_TRUE(MakeChannel(GetParam(), fds));
  const std::vector<uint8_t> sent = Pattern(1 << 20);
  std::vector<uint8_t> got;
  std::thread reader([&] {
    AwaitInterrupter();
    uint8_t piece[3000];
    for (int round = 0;; ++round) {
      const ssize_t n = ::read(fds[0], piece, sizeof piece);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got.insert(got.end(), piece, piece + n);
      if (round % 16 == 0) AwaitSignals();
    }
  });
  size_t written = 0;
  unsigned signals = 0;
  {
    Interrupter interrupter(::pthread_self());
    written = WriteAll(fds[1], sent.data(), sent.size());
    signals = interrupter.Sent();
  }
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  EXPECT_GT(signals, 0u);
  EXPECT_EQ(written, sent.size());
  EXPECT_TRUE(got == sent);
}

TEST_P(TransferUnderSignals, ReadFullyCollectsEveryByteInOrder) {
  int fds[2];
  ASSERT_TRUE(MakeChannel(GetParam(), fds));
  const std::vector<uint8_t> sent = Pattern(300000);
  std::thread writer([&] {
    AwaitInterrupter();
    for (size_t at = 0; at < sent.size();) {
      const size_t piece = std::min<size_t>(1777, sent.size() - at);
      const ssize_t n = ::write(fds[1], sent.data() + at, piece);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<size_t>(n);
      if (at % (16 * 1777) == 0 || piece < 1777) AwaitSignals();
    }
    ::close(fds[1]);
  });
  std::vector<uint8_t> got(sent.size());
  bool whole = false;
  unsigned signals = 0;
  {
    Interrupter interrupter(::pthread_self());
    whole = ReadFully(fds[0], got.data(), got.size());
    signals = interrupter.Sent();
  }
  if (!whole) {
    // A read cut short: the writer must not wait for a reader forever.
    auto* old = std::signal(SIGPIPE, SIG_IGN);
    ::close(fds[0]);
    writer.join();
    std::signal(SIGPIPE, old);
    FAIL() << "the read ended before every byte was sent";
  }
  writer.join();
  // The writer has closed: one more byte is an early end, errno 0.
  uint8_t extra = 0;
  errno = EBADF;
  EXPECT_FALSE(ReadFully(fds[0], &extra, 1));
  EXPECT_EQ(errno, 0);
  ::close(fds[0]);
  EXPECT_GT(signals, 0u);
  EXPECT_TRUE(whole);
  EXPECT_TRUE(got == sent);
}

INSTANTIATE_TEST_SUITE_P(Channels, TransferUnderSignals, ::testing::Values(Channel::Pipe, Channel::SocketPair),
                         [](const ::testing::TestParamInfo<Channel>& info) {
                           return std::string(info.param == Channel::Pipe ? "Pipe" : "SocketPair");
                         });

TEST(FdTransfers, FailuresAndEndsAreToldApart) {
  const std::vector<uint8_t> bytes = Pattern(5000);
  const std::string path = test::WriteScratchFile("fd-io-ends.bin", bytes);
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct Case {
    const char* what;
    uint64_t offset;
    size_t length;
    bool whole;
    int error;  // errno after a failure
  } cases[] = {
      {"all of it", 0, 5000, true, 0},          {"a middle piece", 1234, 1000, true, 0},
      {"nothing at the end", 5000, 0, true, 0}, {"one past the end", 4000, 1001, false, 0},
      {"past the end", 9000, 1, false, 0},      {"beyond any offset", ~0ull - 3, 8, false, EOVERFLOW},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> got(c.length + 1, 0xEE);
    errno = EBADF;
    EXPECT_EQ(ReadFullyAt(fd, c.offset, got.data(), c.length), c.whole);
    if (c.whole) {
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(c.length),
                             bytes.begin() + static_cast<std::ptrdiff_t>(c.offset)));
      EXPECT_EQ(got[c.length], 0xEE) << "wrote past the length";
    } else {
      EXPECT_EQ(errno, c.error);
    }
  }
  // pread's position is its own: the file position has not moved.
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);
  ::close(fd);

  // A descriptor that cannot seek fails with the call's errno.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  uint8_t b = 0;
  EXPECT_FALSE(ReadFullyAt(fds[0], 0, &b, 1));
  EXPECT_EQ(errno, ESPIPE);
  // A write to a closed reader fails, counting only what went through.
  ::close(fds[0]);
  auto* old = std::signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(WriteAll(fds[1], bytes.data(), bytes.size()), 0u);
  EXPECT_EQ(errno, EPIPE);
  std::signal(SIGPIPE, old);
  ::close(fds[1]);
  errno = 0;
  EXPECT_EQ(WriteAll(-1, bytes.data(), 10), 0u);
  EXPECT_EQ(errno, EBADF);
}

TEST(WholeFileRead, ReadsOnlyARegularFileWithinTheLimit) {
  const std::vector<uint8_t> bytes = Pattern(10000);
  const std::string file = test::WriteScratchFile("fd-io-whole.bin", bytes);
  const std::string empty = test::WriteScratchFile("fd-io-empty.bin", {});
  const std::string fifo = test::ScratchPath("fd-io-fifo");
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  enum class Room { Vector, None };
  struct Case {
    const char* what;
    std::string path;
    uint64_t limit;
    Room room;
    WholeRead outcome;
    size_t size;  // bytes read
  } cases[] = {
      {"a regular file", file, 10000, Room::Vector, WholeRead::Read, 10000},
      {"an empty file", empty, 10000, Room::None, WholeRead::Read, 0},
      {"one byte over the limit", file, 9999, Room::Vector, WholeRead::TooLarge, 0},
      {"no memory", file, 1 << 20, Room::None, WholeRead::NoMemory, 0},
      {"a FIFO, never waited on", fifo, 1 << 20, Room::Vector, WholeRead::NotRegular, 0},
      {"a folder", CELLBROOK_TEST_SCRATCH, 1 << 20, Room::Vector, WholeRead::NotRegular, 0},
      {"a missing file", test::ScratchPath("fd-io-missing"), 1 << 20, Room::Vector, WholeRead::CannotOpen, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> got;
    bool asked = false;
    WholeReadFacts facts;
    const WholeRead outcome = ReadWholeFile(
        c.path, c.limit,
        [&](uint64_t size) -> uint8_t* {
          asked = true;
          if (c.room == Room::None) return nullptr;
          got.resize(size);
          return got.data();
        },
        &facts);
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(got.size(), c.size);
    if (outcome == WholeRead::Read) {
      EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin()));
    }
    // Room is asked for only once the file is known to fit.
    EXPECT_EQ(asked, c.outcome == WholeRead::Read || c.outcome == WholeRead::NoMemory);
    if (c.outcome == WholeRead::CannotOpen) {
      EXPECT_EQ(facts.error, ENOENT);
    }
    if (c.outcome == WholeRead::NotRegular) {
      EXPECT_FALSE(S_ISREG(facts.mode));
    }
    if (c.outcome == WholeRead::TooLarge) {
      EXPECT_EQ(facts.size, 10000u);
    }
  }
  ::unlink(fifo.c_str());
}

}  // namespace
}  // namespace cellbrook
