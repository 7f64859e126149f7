#include "export/whole_file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hive/fd_io.h"

namespace cellbrook {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

WholeFileWrite::WholeFileWrite(const std::string& target, bool dashIsStdout, Existing existing)
    : target_(target), keep_(existing == Existing::Keep) {
  if (dashIsStdout && target == "-") {
    toStdout_ = true;
    fd_ = STDOUT_FILENO;
    return;
  }
  struct stat link {};
  if (keep_ && ::lstat(target.c_str(), &link) == 0) {
    status_ = Status::Exists;
    problem_ = kTargetExistsText;
    return;
  }
  if (::lstat(target.c_str(), &link) == 0) {
    struct stat st = link;
    if (S_ISLNK(link.st_mode) && ::stat(target.c_str(), &st) != 0) {
      st = link;  // a dangling link: the link itself is replaced
    } else if (S_ISLNK(link.st_mode)) {
      char resolved[PATH_MAX];
      if (::realpath(target.c_str(), resolved) == nullptr) {
        status_ = Status::CannotCreate;
        problem_ = kCannotCreateTargetText;
        return;
      }
      target_ = resolved;
    }
    if (!S_ISLNK(st.st_mode) && !S_ISREG(st.st_mode)) {
      status_ = Status::NotRegular;
      problem_ = kNotRegularTargetText;
      return;
    }
  }
  const std::string folder = FolderOf(target_);
  const std::string name = NameOf(target_);
  if (name.empty()) {
    status_ = Status::CannotCreate;
    problem_ = kCannotCreateTargetText;
    return;
  }
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = folder + "/." + name + ".cellbrook-" + std::to_string(::getpid()) + "-" +
            std::to_string(tempCounter.fetch_add(1));
    // 0666: a normal new file, the umask applied.
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temp_.clear();
    status_ = Status::CannotCreate;
    problem_ = kCannotCreateTargetText;
  }
}

WholeFileWrite::~WholeFileWrite() {
  if (!done_) Discard();
}

void WholeFileWrite::Fail(const std::string& why) {
  if (problem_.empty()) problem_ = why;
  Discard();
}

bool WholeFileWrite::Write(const void* data, size_t bytes) {
  if (done_ || fd_ < 0) {
    if (problem_.empty()) problem_ = "Write failed: the file is not open";
    return false;
  }
  if (WriteAll(fd_, data, bytes) < bytes) {
    Fail(std::string("Write failed: ") + (errno != 0 ? std::strerror(errno) : "nothing was written"));
    return false;
  }
  return true;
}

bool WholeFileWrite::Commit() {
  if (done_ || fd_ < 0) {
    if (problem_.empty()) problem_ = "Write failed: the file is not open";
    return false;
  }
  if (toStdout_) {
    done_ = true;
    return true;  // a pipe or terminal has what it was sent
  }
  if (::fsync(fd_) != 0) {
    Fail(std::string("Write failed: ") + std::strerror(errno));
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    Fail(std::string("Write failed: the file could not be closed: ") + std::strerror(errno));
    return false;
  }
  if (keep_) {
    // link() never replaces a file: the name is taken only if still free.
    if (::link(temp_.c_str(), target_.c_str()) != 0) {
      if (errno == EEXIST) status_ = Status::Exists;
      Fail(errno == EEXIST ? std::string(kTargetExistsText)
                           : std::string("Write failed: the file could not be put in place: ") + std::strerror(errno));
      return false;
    }
    ::unlink(temp_.c_str());
    temp_.clear();
  } else if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    Fail(std::string("Write failed: the file could not be put in place: ") + std::strerror(errno));
    return false;
  }
  done_ = true;
  // The rename itself survives a crash once the folder is flushed.
  const int folder = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

void WholeFileWrite::Discard() {
  done_ = true;
  if (toStdout_) return;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());  // ours: made with O_EXCL above
    temp_.clear();
  }
}

}  // namespace cellbrook
