#include "recover/carve/image_source.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <linux/fs.h>

#include "hive/fd_io.h"

namespace cellbrook {

std::unique_ptr<ImageSource> OpenExpertWitness(const std::string& path, std::string& error);

namespace {

class RawImage final : public ImageSource {
 public:
  RawImage(int fd, uint64_t size) : fd_(fd), size_(size) {
    struct stat st {};
    if (::fstat(fd, &st) == 0) files_.emplace_back(st.st_dev, st.st_ino);
  }
  ~RawImage() override { ::close(fd_); }
  uint64_t Size() const override { return size_; }
  const char* Kind() const override { return "raw"; }
  bool Read(uint64_t offset, uint8_t* into, size_t length) override {
    if (offset > size_ || length > size_ - offset) return false;
    return ReadFullyAt(fd_, offset, into, length);
  }

 private:
  int fd_;
  uint64_t size_;
};

constexpr uint8_t kEwfSignature[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};

}  // namespace

std::unique_ptr<ImageSource> RawImageSource(int fd, uint64_t size) { return std::make_unique<RawImage>(fd, size); }

std::unique_ptr<ImageSource> OpenImageSource(const std::string& path, std::string& error) {
  // Non-blocking, so that a FIFO never holds the open up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  uint64_t size = 0;
  if (::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
  } else if (S_ISBLK(st.st_mode)) {
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) {
      error = std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
  } else {
    error = "not a regular file or a block device";
    ::close(fd);
    return nullptr;
  }
  uint8_t head[sizeof kEwfSignature] = {};
  if (size >= sizeof head && ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
      std::memcmp(head, kEwfSignature, sizeof head) == 0) {
    ::close(fd);
    return OpenExpertWitness(path, error);
  }
  return RawImageSource(fd, size);
}

}  // namespace cellbrook
