#include "recover/carve/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace cellbrook {

// Writes `bytes` as `name` in the folder `dirFd`: into a temporary file
// beside it, linked to its name only when whole (link never replaces a
// file), so that no half-written hive and no replaced file is ever left.
NewFileResult WriteNewFile(int dirFd, const std::string& name, std::span<const uint8_t> bytes,
                         std::string& error) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return NewFileResult::Exists;
  std::random_device seed;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(seed()));
    temp = "." + name + "." + suffix + ".part";
    fd = ::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = std::strerror(errno);
    return NewFileResult::Failed;
  }
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (!ok) error = std::strerror(errno);
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = std::strerror(errno);
  }
  NewFileResult result = NewFileResult::Failed;
  if (ok) {
    if (::linkat(dirFd, temp.c_str(), dirFd, name.c_str(), 0) == 0) {
      result = NewFileResult::Written;
    } else if (errno == EEXIST) {
      result = NewFileResult::Exists;
    } else {
      error = std::strerror(errno);
    }
  }
  ::unlinkat(dirFd, temp.c_str(), 0);
  return result;
}

NewFileResult WriteNewFileAt(const std::string& path, std::span<const uint8_t> bytes, std::string& error) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    error = std::strerror(errno);
    return NewFileResult::Failed;
  }
  const NewFileResult result = WriteNewFile(dirFd, name, bytes, error);
  ::close(dirFd);
  return result;
}

}  // namespace cellbrook
