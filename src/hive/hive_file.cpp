#include "hive/hive_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace cellbrook {

const char* LoadOutcomeText(LoadOutcome outcome) {
  switch (outcome) {
    case LoadOutcome::Loaded: return "";
    case LoadOutcome::CannotOpen: return "Can not open source file!";
    case LoadOutcome::TooLarge: return "File is too large!";
    case LoadOutcome::NoMemory: return "Not enough memory to read the file!";
    case LoadOutcome::ReadFailed: return "File read failed!";
    case LoadOutcome::InvalidFormat: return "File format is invalid!";
  }
  return "";
}

namespace {

struct FileCloser {
  int fd;
  ~FileCloser() { if (fd >= 0) ::close(fd); }
};

// One read request for the whole size; only a complete read counts.
bool ReadWhole(int fd, uint8_t* into, size_t size) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  size_t done = 0;
  // A regular file delivers in one call; the loop only rides out signals
  // and pipes, and ends at end of file.
  while (done < size) {
    const ssize_t n = ::read(fd, into + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool HiveBlock::Adopt(std::vector<uint8_t> image, HiveImage& bound) {
  if (image.empty() || image.size() > kMaxHiveFileSize) return false;
  HiveImage candidate;
  if (!AttachImage(candidate, image.data(), static_cast<uint32_t>(image.size()))) return false;
  bytes.reset();
  rebuilt = std::move(image);
  size = static_cast<uint32_t>(rebuilt.size());
  AttachImage(bound, rebuilt.data(), size);
  return true;
}

LoadOutcome LoadHiveFile(const std::string& path, HiveBlock& block, HiveImage& image) {
  block = HiveBlock{};
  // Non-blocking, so that a FIFO or a device never holds the open up; only
  // a regular file is read.
  FileCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (file.fd < 0) return LoadOutcome::CannotOpen;
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return LoadOutcome::CannotOpen;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > kMaxHiveFileSize) return LoadOutcome::TooLarge;
  HiveBlock loaded;
  loaded.bytes.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
  if (!loaded.bytes) return LoadOutcome::NoMemory;
  loaded.size = static_cast<uint32_t>(size);
  if (!ReadWhole(file.fd, loaded.bytes.get(), size)) return LoadOutcome::ReadFailed;
  if (!AttachImage(image, loaded.bytes.get(), loaded.size)) return LoadOutcome::InvalidFormat;
  block = std::move(loaded);
  return LoadOutcome::Loaded;
}

}  // namespace cellbrook
