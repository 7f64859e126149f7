#include "hive/fd_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace cellbrook {

namespace {

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// The one loop: `step(done)` moves some of what is left after `done` bytes
// and returns its count, 0 at the end, or -1 with errno. A signal retries;
// the result is what moved, errno 0 after an early end.
template <class Step>
size_t MoveAll(size_t length, Step step) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = step(done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

bool ReadFully(int fd, void* into, size_t length) {
  auto* p = static_cast<uint8_t*>(into);
  return MoveAll(length, [&](size_t done) { return ::read(fd, p + done, length - done); }) == length;
}

bool ReadFullyAt(int fd, uint64_t offset, void* into, size_t length) {
  auto* p = static_cast<uint8_t*>(into);
  constexpr auto kLastOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
  return MoveAll(length, [&](size_t done) -> ssize_t {
           if (offset > kLastOffset || done > kLastOffset - offset) {
             errno = EOVERFLOW;
             return -1;
           }
           return ::pread(fd, p + done, length - done, static_cast<off_t>(offset + done));
         }) == length;
}

size_t WriteAll(int fd, const void* data, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(data);
  return MoveAll(bytes, [&](size_t done) { return ::write(fd, p + done, bytes - done); });
}

WholeRead ReadWholeFile(const std::string& path, uint64_t limit, const ReadRoom& room, WholeReadFacts* facts) {
  WholeReadFacts local;
  WholeReadFacts& f = facts != nullptr ? *facts : local;
  f = WholeReadFacts{};
  FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (file.fd < 0) {
    f.error = errno;
    return WholeRead::CannotOpen;
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) {
    f.error = errno;
    return WholeRead::CannotStat;
  }
  f.mode = st.st_mode;
  f.size = static_cast<uint64_t>(st.st_size);
  if (!S_ISREG(st.st_mode)) return WholeRead::NotRegular;
  if (f.size > limit || f.size > std::numeric_limits<size_t>::max()) return WholeRead::TooLarge;
  uint8_t* into = room(f.size);
  if (into == nullptr && f.size > 0) return WholeRead::NoMemory;
  if (!ReadFullyAt(file.fd, 0, into, static_cast<size_t>(f.size))) {
    f.error = errno;
    return WholeRead::ReadFailed;
  }
  return WholeRead::Read;
}

}  // namespace cellbrook
